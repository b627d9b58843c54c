// test-labels: shell
// test-services: desktop
// The tray icon and its menu on the harness's X server with a real window manager and a real
// XEmbed tray: the entries follow the state, a click on the icon opens the menu, and the items act.
#include "Artifacts.h"
#include "FakeAccessTokenProvider.h"
#include "FakeAudioCapture.h"
#include "FakeHotWordsSource.h"
#include "LogCapture.h"
#include "RecordingTextInjection.h"
#include "app/AppState.h"
#include "core/AppIdentity.h"
#include "core/LeadingCharacters.h"
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
        setShortcut(std::nullopt, GlobalHotkey::toggleDictation());
        AppState state(options(std::chrono::milliseconds(300)));
        state.refreshHotkeyShortcut();
        MenuBarController menuBar(state);
        const QMenu &menu = *menuBar.menu();
        const QStringList tail = {QStringLiteral("调试模式 [ ]"), QStringLiteral("-"), QStringLiteral("打开主窗口"),
                                  QStringLiteral("退出 MurlexMac")};
        QCOMPARE(entries(menu), QStringList({QStringLiteral("未连接"), QStringLiteral("-"),
                                             QStringLiteral("开始/结束录音 (未设置) [off]")}) + tail);
        QCOMPARE(item(menu, QStringLiteral("退出 MurlexMac"))->shortcut(), QKeySequence(QStringLiteral("Ctrl+Q")));
        for (const QAction *action : menu.actions())
            if (action->text() != QStringLiteral("退出 MurlexMac"))
                QVERIFY(action->shortcut().isEmpty());

        // A recorded shortcut enables the item with its description.
        const Shortcut controlAltSpace = Shortcut::fromKey(Key::space, ModifierFlags::control | ModifierFlags::option);
        setShortcut(controlAltSpace, GlobalHotkey::toggleDictation());
        state.refreshHotkeyShortcut();
        const QString toggle = QStringLiteral("开始/结束录音 (") + controlAltSpace.description() + u')';
        QCOMPARE(entries(menu).at(2), toggle);

        // Phases and the connection.
        state.setConnected(true);
        QCOMPARE(entries(menu).first(), QStringLiteral("就绪"));
        const QList<std::pair<Phase, QString>> phases = {
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
        QCOMPARE(entries(menu), QStringList({QStringLiteral("就绪"), QStringLiteral("-"), toggle}) + tail);

        state.setDebugMode(true);
        QStringList debugTail = tail;
        debugTail[0] = QStringLiteral("调试模式 [x]");
        QCOMPARE(entries(menu), QStringList({QStringLiteral("就绪"), QStringLiteral("-"), QStringLiteral("\"正在说的话\""),
                                             QStringLiteral("-"), QStringLiteral("上次注入: abc…"), QStringLiteral("-"), toggle})
                                    + debugTail);
        // 100 characters are cut to 60 (never half of one) plus the ellipsis; a long transcript takes two lines.
        QString hundred;
        for (int i = 0; i < 10; ++i)
            hundred += QStringLiteral("0123456789");
        state.setLastInjectedText(hundred);
        QCOMPARE(entries(menu).at(4), QStringLiteral("上次注入: ") + hundred.left(60) + u'…');
        QCOMPARE(leadingCharacters(QStringLiteral("ab👍🏽cd"), 3), QStringLiteral("ab👍🏽"));
        state.setPartialText(QString(200, u'话'));
        QCOMPARE(entries(menu).at(2), u'"' + QString(200, u'话') + u'"');
        // As shown: two lines at most.
        const QString transcript =
            qobject_cast<QLabel *>(qobject_cast<QWidgetAction *>(menu.actions().at(2))->defaultWidget())->text();
        QCOMPARE(transcript.count(u'\n'), 1);
        QVERIFY2(transcript.startsWith(u'"') && transcript.endsWith(u'…'), qPrintable(transcript));
        state.setPartialText({});
        QCOMPARE(entries(menu).at(2), QStringLiteral("上次注入: ") + hundred.left(60) + u'…');
        state.setDebugMode(false);

        // An error shows with its sign until the state returns to idle by itself.
        state.setError(QStringLiteral("网络连接失败"));
        QCOMPARE(entries(menu).first(), QStringLiteral("⚠ 网络连接失败"));
        QTRY_COMPARE(entries(menu).first(), QStringLiteral("就绪"));
        state.setConnected(false);
        QCOMPARE(entries(menu).first(), QStringLiteral("未连接"));
        reset({GlobalHotkey::toggleDictation()});
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

    void itemsToggleFlipDebugModeAndOpenTheWindow()
    {
        reset({GlobalHotkey::toggleDictation()});
        LogCapture log;
        AppState state(options());
        QVERIFY(state.installComponents({
            [] { return std::make_unique<FakeAudioCapture>(); },
            [] { return std::make_unique<RecordingTextInjection>(); },
            [] { return std::make_unique<FakeAccessTokenProvider>(); }, // nobody signed in
            [] { return std::make_unique<FakeHotWordsSource>(); },
        }));
        state.refreshHotkeyShortcut();
        MenuBarController menuBar(state);
        QTest::qWait(0); // the state's bootstrap

        // The toggle: the dictation starts and stops at the missing sign-in.
        QVERIFY(!state.hasDictation());
        menuBar.menu()->actions().at(2)->trigger();
        QTRY_COMPARE(state.phase(), Phase::error(QStringLiteral("登录已失效，请重新登录")));
        QVERIFY(state.hasDictation());

        // 调试模式 flips the state's flag, which is kept in the settings.
        item(*menuBar.menu(), QStringLiteral("调试模式"))->trigger();
        QVERIFY(state.debugMode());
        QCOMPARE(item(*menuBar.menu(), QStringLiteral("调试模式"))->isChecked(), true);
        QCOMPARE(QSettings(options().settingsPath, QSettings::IniFormat).value(QStringLiteral("debugMode")).toBool(), true);
        item(*menuBar.menu(), QStringLiteral("调试模式"))->trigger();
        QVERIFY(!state.debugMode());
        QCOMPARE(QSettings(options().settingsPath, QSettings::IniFormat).value(QStringLiteral("debugMode")).toBool(), false);

        // 打开主窗口: logged while there is no window, the opener once there is one.
        item(*menuBar.menu(), QStringLiteral("打开主窗口"))->trigger();
        QCOMPARE(log.count(QStringLiteral("app"), QtInfoMsg, QStringLiteral("open main window: there is no main window yet")), 1);
        int opened = 0;
        menuBar.setMainWindowOpener([&opened] { ++opened; });
        item(*menuBar.menu(), QStringLiteral("打开主窗口"))->trigger();
        QCOMPARE(opened, 1);
    }
};

QTEST_MAIN(TestMenuBar)
#include "tst_menubar.moc"
