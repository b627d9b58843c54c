// test-labels: foundation harness
// test-services: desktop
#include "Artifacts.h"
#include "ExternalTool.h"

#include <QtTest>
#include <QFontDatabase>
#include <QLabel>
#include <QLineEdit>
#include <QSystemTrayIcon>

using namespace Qt::Literals::StringLiterals;

// The window with the X input focus, as the server says.
WId focusedWindow()
{
    const auto focus = ExternalTool::run(u"xdotool"_s, {u"getwindowfocus"_s});
    return focus ? WId(focus->trimmed().toULongLong()) : 0;
}

class TestHarnessDesktop : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void windowManagerFramesAndFocusesWindows()
    {
        QCOMPARE(QGuiApplication::platformName(), u"xcb"_s);
        const auto check = ExternalTool::run(u"xprop"_s, {u"-root"_s, u"_NET_SUPPORTING_WM_CHECK"_s});
        QVERIFY2(check && check->contains("window id"), "no window manager (openbox) on the display");
        QLineEdit first, second;
        first.setWindowTitle(u"first"_s);
        second.setWindowTitle(u"second"_s);
        for (QLineEdit *field : {&first, &second}) {
            field->show();
            QVERIFY(QTest::qWaitForWindowExposed(field));
        }
        // Activation through the window manager (needs one), then a click moves the focus back.
        QVERIFY(ExternalTool::run(u"xdotool"_s, {u"windowactivate"_s, u"--sync"_s, QString::number(second.winId())}));
        QTRY_COMPARE(focusedWindow(), second.winId());
        const QPoint centre = first.mapToGlobal(first.rect().center());
        QVERIFY(ExternalTool::run(u"xdotool"_s, {u"mousemove"_s, u"--sync"_s, QString::number(centre.x()), QString::number(centre.y()), u"click"_s, u"1"_s}));
        QTRY_COMPARE(focusedWindow(), first.winId());
        // A framed window sits inside the frame: the window manager reparented it.
        QVERIFY(first.geometry().topLeft() != first.frameGeometry().topLeft());
    }

    void trayEmbedsAnIcon()
    {
        QTRY_VERIFY2(QSystemTrayIcon::isSystemTrayAvailable(), "no system tray (trayer) on the display");
        QSystemTrayIcon icon(QIcon(QStringLiteral(MURLEX_SOURCE_DIR "/src/ui/assets/MenuBarIcon.svg")));
        icon.show();
        QTRY_VERIFY(icon.geometry().isValid() && icon.geometry().width() > 0);
    }

    void chineseTextRendersWithAFont()
    {
        QVERIFY2(!QFontDatabase::families(QFontDatabase::SimplifiedChinese).isEmpty(),
                 "no font covers Simplified Chinese: install one through scripts/install-deps.sh");
        QLabel label(u"聆听中… 已完成 就绪"_s);
        label.setStyleSheet(u"background: white; color: black; font-size: 20px; padding: 8px"_s);
        label.show();
        QVERIFY(QTest::qWaitForWindowExposed(&label));
        QTest::qWait(100);
        const QImage shot = Artifacts::grabWindow(&label);
        QVERIFY(!Artifacts::save(u"harness"_s, u"chinese-text"_s, shot).isEmpty());
        // Rendered glyphs leave many dark pixels; boxes or nothing leave few.
        const int dark = Artifacts::darkPixels(shot, 128);
        QVERIFY2(dark > 300, qPrintable(u"only %1 dark pixels"_s.arg(dark)));
    }
};

QTEST_MAIN(TestHarnessDesktop)
#include "tst_harness_desktop.moc"
