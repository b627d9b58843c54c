// test-labels: shell
// test-services: desktop
// The tray icon and its menu on the harness's X server with a real window manager and a real
// XEmbed tray: the entries follow the state, a click on the icon opens the menu, and the items act.
#include "Artifacts.h"
#include "ExternalTool.h"
#include "FakeAccessTokenProvider.h"
#include "FakeAudioCapture.h"
#include "FakeHotWordsSource.h"
#include "LogCapture.h"
#include "RecordingTextInjection.h"
#include "app/AppState.h"
#include "core/AppIdentity.h"
#include "shortcuts/GlobalHotkey.h"
#include "shortcuts/KeyboardShortcuts.h"
#include "shortcuts/ModifierFlags.h"
#include "ui/MenuBarController.h"

#include <QLabel>
#include <QMenu>
#include <QSettings>
#include <QSystemTrayIcon>
#include <QTemporaryDir>
#include <QWidgetAction>
#include <QtTest>

using namespace KeyboardShortcuts;

namespace {
const QString label = QStringLiteral("shell");

// The menu as lines: "-" for a separator, the whole text of a text line, and for an item its title
// with "[off]" when disabled and "[x]"/"[ ]" when checkable.
QStringList entries(const QMenu &menu)
{
    QStringList lines;
    for (const QAction *action : menu.actions()) {
        if (action->isSeparator()) {
            lines << QStringLiteral("-");
        } else if (qobject_cast<const QWidgetAction *>(action)) {
            lines << action->text();
        } else {
            QString line = action->text().replace(QStringLiteral("&&"), QStringLiteral("&"));
            if (action->isCheckable())
                line += action->isChecked() ? QStringLiteral(" [x]") : QStringLiteral(" [ ]");
            if (!action->isEnabled())
                line += QStringLiteral(" [off]");
            lines << line;
        }
    }
    return lines;
}

QAction *item(const QMenu &menu, const QString &title)
{
    for (QAction *action : menu.actions())
        if (action->text() == title)
            return action;
    return nullptr;
}

} // namespace

class TestMenuBar : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;

    AppState::Options options(std::chrono::milliseconds errorResetDelay = AppState::errorDisplayTime) const
    {
        AppState::Options options;
        options.settingsPath = m_dir.filePath(QStringLiteral("settings.ini"));
        options.errorResetDelay = errorResetDelay;
        return options;
    }

    // Opens the menu where the tray icon is (the click itself is the application suite's) and saves
    // what the screen shows.
    void openAndCapture(MenuBarController &menuBar, const QString &name)
    {
        QTRY_VERIFY(menuBar.trayIcon()->geometry().isValid());
        menuBar.menu()->popup(menuBar.trayIcon()->geometry().bottomLeft());
        QVERIFY(QTest::qWaitForWindowExposed(menuBar.menu()));
        QTest::qWait(150);
        const QImage shot = Artifacts::grabScreen(menuBar.menu()->geometry());
        QVERIFY(!Artifacts::save(label, QStringLiteral("menu-") + name, shot).isEmpty());
        QVERIFY2(Artifacts::darkPixels(shot, 100) > 400, qPrintable(QString::number(Artifacts::darkPixels(shot, 100))));
        menuBar.menu()->hide();
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY2(QGuiApplication::platformName() == QStringLiteral("xcb"), "run the tests through scripts/harness.sh");
        AppIdentity::install();
        QVERIFY(m_dir.isValid());
    }

    void entriesFollowTheState()
    {
        AppState state(options(std::chrono::milliseconds(300)));
        MenuBarController menuBar(state);
        const QMenu &menu = *menuBar.menu();
        const QString toggle = QStringLiteral("开始/结束录音 (未设置) [off]");
        const QStringList tail = {toggle, QStringLiteral("粘贴上一次结果 [off]"), QStringLiteral("调试模式 [ ]"), QStringLiteral("-"), QStringLiteral("打开主窗口"),
                                  QStringLiteral("退出 MurlexMac")};
        QCOMPARE(entries(menu), QStringList({QStringLiteral("未连接"), QStringLiteral("-")}) + tail);
        for (const QAction *action : menu.actions())
            QCOMPARE(action->shortcut(), action->text() == QStringLiteral("退出 MurlexMac") ? QKeySequence(QStringLiteral("Ctrl+Q")) : QKeySequence());

        state.setConnected(true);
        QCOMPARE(entries(menu).first(), QStringLiteral("就绪"));
        const std::pair<Phase, QString> phases[] = {
            {Phase::recording(), QStringLiteral("● 录音中…")}, {Phase::finalizing(), QStringLiteral("▸ 转录中…")},
            {Phase::polishing(), QStringLiteral("▸ 润色中…")}, {Phase::injecting(), QStringLiteral("✓ 注入中…")}};
        for (const auto &[phase, text] : phases) {
            state.setPhase(phase);
            QCOMPARE(entries(menu).first(), text);
        }

        // Debug off: no transcript lines or their separators, whatever the texts.
        state.setPhase(Phase::idle());
        state.setPartialText(QStringLiteral("正在说的话"));
        state.setLastInjectedText(QStringLiteral("abc"));
        QCOMPARE(entries(menu), QStringList({QStringLiteral("就绪"), QStringLiteral("-")}) + tail);

        state.setDebugMode(true);
        QStringList debugTail = tail;
        debugTail[2] = QStringLiteral("调试模式 [x]");
        QCOMPARE(entries(menu), QStringList({QStringLiteral("就绪"), QStringLiteral("-"), QStringLiteral("\"正在说的话\""), QStringLiteral("-"),
                                             QStringLiteral("上次注入: abc…"), QStringLiteral("-")}) + debugTail);
        // The last text is cut to 60 characters, never in the middle of one, plus the ellipsis; a long
        // transcript takes two lines.
        const QString sixtieth = QString(59, u'x') + QStringLiteral("👍🏽");
        state.setLastInjectedText(sixtieth + QString(40, u'y'));
        QCOMPARE(entries(menu).at(4), QStringLiteral("上次注入: ") + sixtieth + u'…');
        state.setPartialText(QString(200, u'话'));
        QCOMPARE(entries(menu).at(2), u'"' + QString(200, u'话') + u'"');
        const QString transcript = qobject_cast<QLabel *>(qobject_cast<QWidgetAction *>(menu.actions().at(2))->defaultWidget())->text();
        QCOMPARE(transcript.count(u'\n'), 1);
        QVERIFY2(transcript.startsWith(u'"') && transcript.endsWith(u'…'), qPrintable(transcript));
        state.setPartialText({});
        QCOMPARE(entries(menu).at(2), QStringLiteral("上次注入: ") + sixtieth + u'…');
        state.setDebugMode(false);

        // An error shows with its sign until the state returns to idle by itself.
        state.setError(QStringLiteral("网络连接失败"));
        QCOMPARE(entries(menu).first(), QStringLiteral("⚠ 网络连接失败"));
        QTRY_COMPARE(entries(menu).first(), QStringLiteral("就绪"));
        state.setConnected(false);
        QCOMPARE(entries(menu).first(), QStringLiteral("未连接"));
    }

    void theIconSitsInTheTrayAndTheMenuShowsEachState()
    {
        QVERIFY2(QSystemTrayIcon::isSystemTrayAvailable(), "no system tray (trayer) on the display");
        reset({GlobalHotkey::toggleDictation()});
        AppState state(options());
        state.refreshHotkeyShortcut();
        MenuBarController menuBar(state);
        QTRY_VERIFY(menuBar.trayIcon()->geometry().isValid());
        const QRect icon = menuBar.trayIcon()->geometry();
        QVERIFY2(icon.width() >= 16 && icon.height() >= 16, qPrintable(QStringLiteral("%1x%2").arg(icon.width()).arg(icon.height())));
        QVERIFY(!MenuBarController::icon().pixmap(22).isNull());

        openAndCapture(menuBar, QStringLiteral("idle"));

        state.setConnected(true);
        state.setDebugMode(true);
        state.setPhase(Phase::recording());
        state.setPartialText(QStringLiteral("今天的会议改到下午三点，请大家准时参加，并提前准备好各自负责部分的材料和数据"));
        state.setLastInjectedText(QStringLiteral("好的，我们明天上午十点在三楼会议室见面。"));
        openAndCapture(menuBar, QStringLiteral("debug"));

        state.setDebugMode(false);
        state.setPartialText({});
        state.setError(QStringLiteral("连接超时，请检查网络"));
        openAndCapture(menuBar, QStringLiteral("error"));
    }

    // Launched with its services, the state follows the stored shortcut and its presses on the
    // X server; the items toggle, flip the debug mode and open the window.
    void theShortcutAndTheItemsDriveTheState()
    {
        reset({GlobalHotkey::toggleDictation()});
        LogCapture log;
        AppState::Options launched = options();
        launched.launchServices = true;
        AppState state(launched);
        int injectors = 0;
        QVERIFY(state.installComponents({
            [] { return std::make_unique<FakeAudioCapture>(); },
            [&injectors] { ++injectors; return std::make_unique<RecordingTextInjection>(); },
            [] { return std::make_unique<FakeAccessTokenProvider>(); }, // nobody signed in
            [] { return std::make_unique<FakeHotWordsSource>(); },
        }));
        MenuBarController menuBar(state);
        const QMenu &menu = *menuBar.menu();
        const Shortcut controlAltSpace = Shortcut::fromKey(Key::space, ModifierFlags::control | ModifierFlags::option);
        QTRY_COMPARE(state.hotkeyShortcut(), std::optional(controlAltSpace));
        QCOMPARE(state.property("hotkeyShortcut").value<std::optional<Shortcut>>(), std::optional(controlAltSpace));
        QCOMPARE(log.count(QStringLiteral("MetricsKitObserver"), QtInfoMsg, QStringLiteral("MetricsKitObserver registered")), 1);
        // Nothing of a dictation exists before the first press.
        QVERIFY(!state.hasVoiceSocket() && !state.hasDictation());
        QCOMPARE(injectors, 0);

        // A press on the X server starts the dictation, which stops at the missing sign-in; the
        // toggle item dismisses the message.
        QVERIFY(ExternalTool::run(QStringLiteral("xdotool"), {QStringLiteral("key"), QStringLiteral("ctrl+alt+space")}));
        QTRY_COMPARE(state.phase(), Phase::error(QStringLiteral("登录已失效，请重新登录")));
        QVERIFY(state.hasVoiceSocket() && state.hasDictation());
        menu.actions().at(2)->trigger();
        QTRY_COMPARE(state.phase(), Phase::idle());

        // A new shortcut shows in the menu at once and works; a cleared one disables the item.
        setShortcut(Shortcut::fromKey(Key::f9, ModifierFlags::control), GlobalHotkey::toggleDictation());
        QTRY_COMPARE(entries(menu).at(2), QStringLiteral("开始/结束录音 (⌃F9)"));
        QVERIFY(ExternalTool::run(QStringLiteral("xdotool"), {QStringLiteral("key"), QStringLiteral("ctrl+F9")}));
        QTRY_VERIFY(state.phase().kind() == Phase::Kind::error);
        setShortcut(std::nullopt, GlobalHotkey::toggleDictation());
        QTRY_COMPARE(entries(menu).at(2), QStringLiteral("开始/结束录音 (未设置) [off]"));
        reset({GlobalHotkey::toggleDictation()});
        QTRY_COMPARE(state.hotkeyShortcut(), std::optional(controlAltSpace));

        // 调试模式 flips the state's flag, which is kept in the settings.
        QSettings stored(launched.settingsPath, QSettings::IniFormat);
        for (const bool on : {true, false}) {
            item(menu, QStringLiteral("调试模式"))->trigger();
            QCOMPARE(state.debugMode(), on);
            QCOMPARE(item(menu, QStringLiteral("调试模式"))->isChecked(), on);
            stored.sync();
            QCOMPARE(stored.value(QStringLiteral("debugMode")).toBool(), on);
        }

        // 打开主窗口: logged while there is no window, the opener once there is one.
        item(menu, QStringLiteral("打开主窗口"))->trigger();
        QCOMPARE(log.count(QStringLiteral("app"), QtInfoMsg, QStringLiteral("open main window: there is no main window yet")), 1);
        int opened = 0;
        menuBar.setMainWindowOpener([&opened] { ++opened; });
        item(menu, QStringLiteral("打开主窗口"))->trigger();
        QCOMPARE(opened, 1);
    }
};

QTEST_MAIN(TestMenuBar)
#include "tst_menubar.moc"
