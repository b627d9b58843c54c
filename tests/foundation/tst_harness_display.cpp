// test-labels: foundation harness
// Proves the harness's X server: a window maps on the display and can take the keyboard focus.
#include <QtTest>
#include <QLineEdit>
#include <QProcess>
#include <QWidget>

class TestHarnessDisplay : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void windowMapsOnTheDisplay()
    {
        QVERIFY2(!qEnvironmentVariableIsEmpty("DISPLAY"), "no DISPLAY: run the tests through scripts/harness.sh");
        QCOMPARE(QGuiApplication::platformName(), QStringLiteral("xcb"));
        QLineEdit field;
        field.setWindowTitle(QStringLiteral("murlex-harness-probe"));
        field.show();
        QVERIFY(QTest::qWaitForWindowExposed(&field));

        // The window is visible to other X clients, and xdotool can focus it.
        QProcess xdotool;
        xdotool.start(QStringLiteral("xdotool"),
                      {QStringLiteral("windowfocus"), QStringLiteral("--sync"), QString::number(field.winId())});
        QVERIFY(xdotool.waitForFinished(10000));
        QCOMPARE(xdotool.exitCode(), 0);
        QTRY_VERIFY(field.hasFocus());
    }
};

QTEST_MAIN(TestHarnessDisplay)
#include "tst_harness_display.moc"
