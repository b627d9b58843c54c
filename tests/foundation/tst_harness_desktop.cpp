// test-labels: foundation harness
// test-services: desktop
// Proves the display and desktop services interface suites rely on: an X server whose windows other
// clients can focus, a window manager that focuses a clicked window, a system tray that embeds
// icons, and a font that covers Simplified Chinese.
#include "Artifacts.h"
#include "ExternalTool.h"

#include <QtTest>
#include <QFontDatabase>
#include <QLabel>
#include <QLineEdit>
#include <QSystemTrayIcon>

// The window with the X input focus, as the server says.
WId focusedWindow()
{
    const auto focus = ExternalTool::run(QStringLiteral("xdotool"), {QStringLiteral("getwindowfocus")});
    return focus ? WId(focus->trimmed().toULongLong()) : 0;
}

class TestHarnessDesktop : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void windowManagerFramesAndFocusesWindows()
    {
        QCOMPARE(QGuiApplication::platformName(), QStringLiteral("xcb"));
        const auto check = ExternalTool::run(QStringLiteral("xprop"), {QStringLiteral("-root"), QStringLiteral("_NET_SUPPORTING_WM_CHECK")});
        QVERIFY2(check && check->contains("window id"), "no window manager (openbox) on the display");

        QLineEdit first, second;
        first.setWindowTitle(QStringLiteral("first"));
        second.setWindowTitle(QStringLiteral("second"));
        first.show();
        second.show();
        QVERIFY(QTest::qWaitForWindowExposed(&first));
        QVERIFY(QTest::qWaitForWindowExposed(&second));
        // Activation through the window manager (needs one), then a click moves the focus back.
        QVERIFY(ExternalTool::run(QStringLiteral("xdotool"), {QStringLiteral("windowactivate"), QStringLiteral("--sync"), QString::number(second.winId())}));
        QTRY_COMPARE(focusedWindow(), second.winId());
        const QPoint centre = first.mapToGlobal(first.rect().center());
        QVERIFY(ExternalTool::run(QStringLiteral("xdotool"), {QStringLiteral("mousemove"), QStringLiteral("--sync"), QString::number(centre.x()), QString::number(centre.y()), QStringLiteral("click"), QStringLiteral("1")}));
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
        QLabel label(QStringLiteral("聆听中… 已完成 就绪"));
        label.setStyleSheet(QStringLiteral("background: white; color: black; font-size: 20px; padding: 8px"));
        label.show();
        QVERIFY(QTest::qWaitForWindowExposed(&label));
        QTest::qWait(100);
        const QImage shot = Artifacts::grabWindow(&label);
        QVERIFY(!Artifacts::save(QStringLiteral("harness"), QStringLiteral("chinese-text"), shot).isEmpty());
        // Rendered glyphs leave many dark pixels; boxes or nothing leave few.
        const int dark = Artifacts::darkPixels(shot, 128);
        QVERIFY2(dark > 300, qPrintable(QStringLiteral("only %1 dark pixels").arg(dark)));
    }
};

QTEST_MAIN(TestHarnessDesktop)
#include "tst_harness_desktop.moc"
