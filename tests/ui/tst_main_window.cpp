// test-labels: ui
// test-services: desktop
// The main window on the harness's X server under its window manager, driven through its real
// widgets: the shared state, the hot words store over the real client against the stand-in, the
// tokens in the harness's keyring, launch at login through a real autostart directory, and the
// recorder pressed with xdotool. Only the accessibility trust is a fake (the X server's cannot be
// taken away and given back). Screenshots of every tab in a light and a dark palette go to
// build/test/artifacts/ui/.
#include "Artifacts.h"
#include "ExternalTool.h"
#include "StandIn.h"
#include "app/AppState.h"
#include "core/AppIdentity.h"
#include "platform/KeySynthesis.h"
#include "platform/Platform.h"
#include "shortcuts/GlobalHotkey.h"
#include "shortcuts/KeyboardShortcuts.h"
#include "shortcuts/ModifierFlags.h"
#include "shortcuts/Recorder.h"
#include "store/HotWordsStore.h"
#include "store/TokenStore.h"
#include "ui/AboutSection.h"
#include "ui/AccessibilityPermissionRow.h"
#include "ui/AccessibilityTrustPoll.h"
#include "ui/FirstRunFlag.h"
#include "ui/OnboardingView.h"
#include "ui/GuideCard.h"
#include "ui/HomeTab.h"
#include "ui/HotwordsSection.h"
#include "ui/HotwordsTab.h"
#include "ui/KeycapView.h"
#include "ui/LoginItemController.h"
#include "ui/LoginItemRow.h"
#include "ui/MainWindow.h"
#include "ui/MainWindowView.h"
#include "ui/PermissionChecker.h"
#include "ui/SettingsTab.h"
#include "ui/StatusPill.h"
#include "ui/StatusSection.h"

#include <QCheckBox>
#include <QDesktopServices>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QScrollArea>
#include <QSettings>
#include <QStyleFactory>
#include <QTemporaryDir>
#include <QtTest>

using namespace std::chrono_literals;

namespace {

// Trust in synthetic keys cannot be withdrawn on a running X server: a stand-in whose trust the
// test sets, noting every query in a journal.
class FakeKeySynthesis : public KeySynthesis {
public:
    explicit FakeKeySynthesis(QStringList *journal) : m_journal(journal) {}
    bool trusted = true;
    bool isTrusted() override
    {
        m_journal->append(QStringLiteral("trusted?"));
        return trusted;
    }
    void promptForTrust() override { m_journal->append(QStringLiteral("prompt")); }
    bool nonModifierKeyHeld() override { return false; }
    void sendPasteChord(PasteChord) override {}

private:
    QStringList *m_journal;
};
const QString label = QStringLiteral("ui");


// Scrolls the tab holding the widget until it shows, as a person does before clicking it.
void scrollTo(QWidget *widget)
{
    for (QWidget *parent = widget->parentWidget(); parent; parent = parent->parentWidget())
        if (auto *area = qobject_cast<QScrollArea *>(parent))
            area->ensureWidgetVisible(widget);
}


// Records the URLs the desktop is asked to open, in place of its handlers.
class UrlRecorder : public QObject {
    Q_OBJECT
public:
    QList<QUrl> opened;
public Q_SLOTS:
    void open(const QUrl &url) { opened << url; }
};

// Types text (Chinese too) into the widget as key presses carrying it.
void type(QWidget *widget, const QString &text)
{
    for (const QChar c : text)
        QTest::sendKeyEvent(QTest::Click, widget, Qt::Key_unknown, QString(c), Qt::NoModifier);
}

// How often the trust was asked.
int trustQueries(const QStringList &journal) { return int(journal.count(QStringLiteral("trusted?"))); }
} // namespace

class TestMainWindow : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;
    StandIn m_standIn;
    QStringList m_journal;
    FakeKeySynthesis *m_keys = nullptr;
    std::unique_ptr<AppState> m_state;
    std::unique_ptr<PermissionChecker> m_permissions;
    std::unique_ptr<LoginItemController> m_loginItem;
    std::unique_ptr<QSettings> m_storeSettings;
    std::unique_ptr<HotWordsStore> m_store;
    std::unique_ptr<FirstRunFlag> m_flag;
    std::unique_ptr<MainWindow> m_window;

    QString path(const QString &name) const { return m_dir.filePath(name); }

    MainWindowServices services()
    {
        MainWindowServices s;
        s.state = m_state.get();
        s.loginItem = m_loginItem.get();
        s.permissions = m_permissions.get();
        s.hotWords = m_store.get();
        s.firstRun = m_flag.get();
        s.runningPath = QStringLiteral("/home/ada/murlex/build/dev/src/murlex");
        s.installPrefix = QStringLiteral("/usr/local");
        return s;
    }

    // A fresh window over the test's parts, with the first run completed unless told otherwise.
    MainWindow &openWindow(bool completed = true, MainWindowServices s = {})
    {
        m_window.reset();
        m_flag->setCompletedOnboarding(completed);
        m_window = std::make_unique<MainWindow>(s.state ? std::move(s) : services());
        m_window->move(60, 20);
        m_window->open();
        [[maybe_unused]] const bool exposed = QTest::qWaitForWindowExposed(m_window.get());
        return *m_window;
    }
    MainWindowView &view() { return *m_window->view(); }
    HomeTab &home() { return *view().homeTab(); }
    SettingsTab &settings() { return *view().settingsTab(); }
    HotwordsSection &hotwords() { return *view().hotwordsTab()->section(); }

    void signIn() { TokenStore::setAccessToken(m_standIn.server.issueTokens(QStringLiteral("ada")).access); }
    // Until every call the store made has been answered.
    bool storeSettles()
    {
        return QTest::qWaitFor([this] {
            return !m_store->isSyncing() && m_standIn.server.hotWords(QStringLiteral("ada")) == m_store->words()
                && m_store->pendingOpsCount() == 0;
        }, 20000);
    }
    void saveShot(const QString &name, const QImage &image)
    {
        QVERIFY(!Artifacts::save(label, name, image).isEmpty());
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY2(QGuiApplication::platformName() == QStringLiteral("xcb"), "run the tests through scripts/harness.sh");
        QVERIFY(m_dir.isValid());
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, path(QStringLiteral("config")));
        AppIdentity::install();
        QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
        QVERIFY(m_standIn.start());

        AppState::Options options;
        options.settingsPath = path(QStringLiteral("state.ini"));
        m_state = std::make_unique<AppState>(options);

        PermissionChecker::Services permissions;
        permissions.microphone = Platform::microphonePermission(
            Platform::audioSystem(), std::make_unique<QSettings>(path(QStringLiteral("mic.ini")), QSettings::IniFormat));
        auto keys = std::make_shared<FakeKeySynthesis>(&m_journal);
        m_keys = keys.get();
        permissions.keys = keys;
        permissions.notifications = Platform::desktopNotifications();
        permissions.settings = Platform::systemSettings();
        m_permissions = std::make_unique<PermissionChecker>(std::move(permissions));

        // An installed murlex under a prefix of the test's own, started from there.
        QVERIFY(QDir().mkpath(path(QStringLiteral("prefix/bin"))));
        QFile executable(path(QStringLiteral("prefix/bin/murlex")));
        QVERIFY(executable.open(QIODevice::WriteOnly));
        executable.close();
        m_loginItem = std::make_unique<LoginItemController>(Platform::loginItemService(
            {path(QStringLiteral("prefix/bin/murlex")), path(QStringLiteral("prefix")), path(QStringLiteral("autostart"))}));

        m_storeSettings = std::make_unique<QSettings>(path(QStringLiteral("hotwords.ini")), QSettings::IniFormat);
        m_store = HotWordsStore::create(*m_storeSettings);
        m_flag = std::make_unique<FirstRunFlag>(path(QStringLiteral("state.ini")));
    }

    void init()
    {
        QVERIFY(m_standIn.reset());
        m_keys->trusted = true;
        KeyboardShortcuts::setShortcut(std::nullopt, GlobalHotkey::toggleDictation());
        m_state->refreshHotkeyShortcut();
        QApplication::setPalette(QApplication::style()->standardPalette());
    }

    void cleanup() { m_window.reset(); }

    void cleanupTestCase()
    {
        m_window.reset();
        TokenStore::setAccessToken(std::nullopt);
    }

    // One window, titled "Murlex": the first-run page at 560 × 540 until it is completed, then the
    // main view in the same window; closing keeps nothing, reopening starts on 首页.
    void theWindowFollowsTheFirstRunAndStartsAtHome()
    {
        MainWindow &window = openWindow(false);
        QCOMPARE(window.windowTitle(), QStringLiteral("Murlex"));
        QCOMPARE(window.objectName(), QStringLiteral("main"));
        auto *firstRun = qobject_cast<OnboardingView *>(window.content());
        QVERIFY(firstRun);
        QCOMPARE(firstRun->currentStep(), 1);
        QCOMPARE(window.size(), QSize(560, 540));
        QCOMPARE(window.minimumSize(), window.maximumSize());
        saveShot(QStringLiteral("first-run"), Artifacts::grabWindow(&window));

        firstRun->finish(); // the guide's own pages are driven by its suite
        QTRY_VERIFY(window.view());
        QVERIFY(m_flag->hasCompletedOnboarding());
        QCOMPARE(QSettings(path(QStringLiteral("state.ini")), QSettings::IniFormat).value(QStringLiteral("hasCompletedOnboarding")).toBool(), true);
        QTRY_COMPARE(window.size(), QSize(720, 720));
        QCOMPARE(window.minimumSize(), QSize(720, 720));
        QCOMPARE(window.maximumSize(), QSize(900, 900));
        QVERIFY(window.isVisible());

        // The sidebar: the four tabs in order, within its width, starting at 首页.
        QListWidget *sidebar = view().sidebar();
        QStringList labels;
        for (int row = 0; row < sidebar->count(); ++row) {
            labels << sidebar->item(row)->text();
            QVERIFY(!sidebar->item(row)->icon().isNull());
        }
        QCOMPARE(labels, QStringList({QStringLiteral("首页"), QStringLiteral("热词"), QStringLiteral("历史"), QStringLiteral("设置")}));
        QVERIFY(sidebar->width() >= 160 && sidebar->width() <= 220);
        QCOMPARE(view().selection(), MainTab::home);

        // A click on 设置 in the sidebar shows the settings.
        const QPoint settingsRow = sidebar->viewport()->mapToGlobal(sidebar->visualItemRect(sidebar->item(3)).center());
        QVERIFY(ExternalTool::xdotool({QStringLiteral("mousemove"), QStringLiteral("--sync"), QString::number(settingsRow.x()),
                         QString::number(settingsRow.y())}));
        QVERIFY(ExternalTool::xdotool({QStringLiteral("click"), QStringLiteral("1")}));
        QTRY_COMPARE(view().selection(), MainTab::settings);
        QVERIFY(settings().isVisible() && !home().isVisible());

        // Opening an open window only raises it: same content.
        QPointer<QWidget> content = window.content();
        window.open();
        QCOMPARE(window.content(), content.data());
        QCOMPARE(view().selection(), MainTab::settings);

        // Closing keeps the process and drops the view; reopening starts at 首页.
        QVERIFY(window.close());
        QTRY_VERIFY(!content);
        QVERIFY(!window.isVisible());
        window.open();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QCOMPARE(view().selection(), MainTab::home);
        QVERIFY(home().isVisible());
        QTRY_VERIFY(window.isActiveWindow());

        // "重看" brings the first-run page back in the same window.
        view().select(MainTab::settings);
        scrollTo(settings().replayButton());
        QVERIFY(ExternalTool::click(settings().replayButton()));
        QTRY_VERIFY(qobject_cast<OnboardingView *>(window.content()));
        QCOMPARE(qobject_cast<OnboardingView *>(window.content())->currentStep(), 1);
        QVERIFY(!m_flag->hasCompletedOnboarding());
        QTRY_COMPARE(window.size(), QSize(560, 540));
    }

    // No shortcut: home says "未设置" and settings warns; recording one in the settings' recorder
    // removes both at once and shows the keys.
    void recordingAShortcutClearsBothNotices()
    {
        openWindow();
        QVERIFY(home().noShortcutLabel()->isVisible());
        QCOMPARE(home().noShortcutLabel()->text(), QStringLiteral("未设置"));
        QVERIFY(!home().keycap());
        QCOMPARE(home().heroLine()->text(), QStringLiteral("尚未设置快捷键。前往「设置 → 快捷键」配置一个。"));
        QVERIFY(!settings().shortcutWarning()->isHidden());

        view().select(MainTab::settings);
        QVERIFY(settings().shortcutWarning()->isVisible());
        QCOMPARE(settings().shortcutWarning()->text(), QStringLiteral("未设置快捷键,无法触发录音。点击上方录入框设置一个。"));
        KeyboardShortcuts::Recorder *recorder = settings().recorder();
        QVERIFY(ExternalTool::xdotool({QStringLiteral("windowactivate"), QStringLiteral("--sync"), QString::number(m_window->winId())}));
        QVERIFY(ExternalTool::click(recorder));
        QTRY_VERIFY(recorder->isRecording());
        QVERIFY(ExternalTool::xdotool({QStringLiteral("key"), QStringLiteral("ctrl+alt+k")}));
        QTRY_VERIFY(!recorder->isRecording());

        const auto stored = KeyboardShortcuts::getShortcut(GlobalHotkey::toggleDictation());
        QVERIFY(stored);
        QVERIFY(settings().shortcutWarning()->isHidden());
        QVERIFY(home().noShortcutLabel()->isHidden());
        QVERIFY(home().keycap());
        QCOMPARE(home().keycap()->text(), stored->description());
        QCOMPARE(home().keycap()->keys(), QStringList({QStringLiteral("⌃"), QStringLiteral("⌥"), QStringLiteral("K")}));
        QCOMPARE(home().heroLine()->text(), QStringLiteral("按下方组合键开始/停止语音输入,在任何 App 都能用"));
    }

    // The accessibility card and the settings row follow the trust within about a second (the
    // real interval) while shown; hidden, neither asks at all.
    void accessibilityPollsOnlyWhileVisible()
    {
        m_keys->trusted = false;
        openWindow();
        QVERIFY(home().accessibilityCard()->isVisible());
        QCOMPARE(home().trustPoll()->interval(), 1000ms);
        QCOMPARE(settings().statusSection()->accessibilityRow()->trustPoll()->interval(), 1000ms);
        QVERIFY(home().trustPoll()->isPolling());
        QVERIFY(!settings().statusSection()->accessibilityRow()->trustPoll()->isPolling());

        QElapsedTimer clock;
        clock.start();
        m_keys->trusted = true;
        QTRY_VERIFY_WITH_TIMEOUT(home().accessibilityCard()->isHidden(), 2500);
        QVERIFY2(clock.elapsed() <= 1600, qPrintable(QString::number(clock.elapsed())));

        // The hot words tab: neither view is visible, no one asks.
        view().select(MainTab::hotwords);
        QVERIFY(!home().trustPoll()->isPolling());
        m_journal.clear();
        QTest::qWait(2300);
        QCOMPARE(trustQueries(m_journal), 0);

        // Settings: the row (built while untrusted) catches up within a poll, then follows.
        AccessibilityPermissionRow *row = settings().statusSection()->accessibilityRow();
        QVERIFY(row->requestButton()->isVisibleTo(row));
        view().select(MainTab::settings);
        QTRY_VERIFY_WITH_TIMEOUT(row->grantedLabel()->isVisible(), 1600);
        QVERIFY(row->requestButton()->isHidden());
        m_keys->trusted = false;
        QTRY_VERIFY_WITH_TIMEOUT(row->requestButton()->isVisible(), 1600);

        // Closed: no poll at all.
        m_window->close();
        m_journal.clear();
        QTest::qWait(2300);
        QCOMPARE(trustQueries(m_journal), 0);
    }

    // The token card: shown for no token and for an empty one, gone once a token is stored (read
    // again when 首页 is shown).
    void theAccessTokenCardFollowsTheStoredToken()
    {
        TokenStore::setAccessToken(QString());
        openWindow();
        GuideCard *card = home().accessTokenCard();
        QVERIFY(card->isVisible());
        QCOMPARE(card->title(), QStringLiteral("未配置 Access Token"));
        QVERIFY(!card->actionButton());

        signIn();
        view().select(MainTab::settings);
        view().select(MainTab::home);
        QVERIFY(card->isHidden());

        TokenStore::setAccessToken(std::nullopt);
        view().select(MainTab::hotwords);
        view().select(MainTab::home);
        QVERIFY(card->isVisible());
    }

    // Launch at login from the home card and the settings switch, over a real autostart directory.
    void loginItemCardAndSwitch()
    {
        QFile::remove(path(QStringLiteral("autostart/quillfen.MurlexMac.desktop")));
        m_loginItem->refresh();
        openWindow();
        QVERIFY(m_loginItem->isInstallableLocation());
        GuideCard *card = home().loginItemCard();
        QVERIFY(card->isVisible());
        QVERIFY(ExternalTool::click(card->actionButton()));
        QTRY_VERIFY(card->isHidden());
        QVERIFY(QFile::exists(path(QStringLiteral("autostart/quillfen.MurlexMac.desktop"))));

        view().select(MainTab::settings);
        QCheckBox *toggle = settings().loginItemRow()->toggle();
        QVERIFY(toggle->isChecked() && toggle->isEnabled());
        QVERIFY(settings().loginItemRow()->caption()->isHidden());
        QVERIFY(ExternalTool::click(toggle, QPoint(8, toggle->height() / 2))); // on the box, not the empty space after the label
        QTRY_VERIFY(!toggle->isChecked());
        QVERIFY(!m_loginItem->isRegistered());
        view().select(MainTab::home);
        QVERIFY(card->isVisible());

        // Run from elsewhere: the switch is off and disabled, the caption names both places.
        LoginItemController elsewhere(Platform::loginItemService(
            {QCoreApplication::applicationFilePath(), path(QStringLiteral("prefix")), path(QStringLiteral("autostart"))}));
        MainWindowServices s = services();
        s.loginItem = &elsewhere;
        openWindow(true, s);
        QVERIFY(home().loginItemCard()->isHidden());
        LoginItemRow *row = settings().loginItemRow();
        QVERIFY(!row->toggle()->isEnabled());
        QVERIFY(!row->caption()->isHidden());
        QCOMPARE(row->caption()->text(),
                 QStringLiteral("当前从 /home/ada/murlex/build/dev/src/murlex 运行,不是 /usr/local。请先 `make install` 把 App "
                                "装到 /usr/local,再来这里打开开关。"));
    }

    // Hot words through the real store to the stand-in: trimmed adds, a blank one ignored with the
    // field kept, deletion, and the status texts following the server's faults and "立即同步".
    void hotWordsGoThroughTheStore()
    {
        signIn();
        openWindow();
        view().select(MainTab::hotwords);
        HotwordsSection &section = hotwords();
        QCOMPARE(section.input()->placeholderText(), QStringLiteral("新增热词…"));
        QCOMPARE(section.statusTexts(), QStringList({QStringLiteral("还没有热词")}));

        type(section.input(), QStringLiteral(" 词 "));
        QVERIFY(ExternalTool::click(section.addButton()));
        QTRY_COMPARE(section.shownWords(), QStringList({QStringLiteral("词")}));
        QCOMPARE(section.input()->text(), QString());
        QVERIFY(storeSettles());
        QCOMPARE(m_standIn.server.hotWords(QStringLiteral("ada")), QStringList({QStringLiteral("词")}));

        type(section.input(), QStringLiteral("   "));
        QTest::keyClick(section.input(), Qt::Key_Return);
        QCOMPARE(section.input()->text(), QStringLiteral("   "));
        QCOMPARE(m_store->words(), QStringList({QStringLiteral("词")}));
        section.input()->clear();

        type(section.input(), QStringLiteral("Murlex"));
        QTest::keyClick(section.input(), Qt::Key_Return);
        QVERIFY(storeSettles());
        QCOMPARE(section.shownWords(), QStringList({QStringLiteral("词"), QStringLiteral("Murlex")}));
        QVERIFY(ExternalTool::click(section.deleteButton(QStringLiteral("词"))));
        QTRY_COMPARE(section.shownWords(), QStringList({QStringLiteral("Murlex")}));
        QVERIFY(storeSettles());
        QCOMPARE(m_standIn.server.hotWords(QStringLiteral("ada")), QStringList({QStringLiteral("Murlex")}));
        QCOMPARE(section.statusTexts(), QStringList());

        // The server fails: the word stays here, queued, and the section says so.
        QVERIFY(m_standIn.server.setRestFault({.method = "POST", .path = QStringLiteral("/hotwords"), .status = 503}));
        type(section.input(), QStringLiteral("离线"));
        QVERIFY(ExternalTool::click(section.addButton()));
        QTRY_COMPARE(section.statusTexts(),
                     QStringList({QStringLiteral("网络异常,已存在本地"), QStringLiteral("1 条待同步")}));
        QVERIFY(section.syncButton()->isVisible());

        // Signed out meanwhile: "立即同步" tells that instead, and keeps the change.
        TokenStore::setAccessToken(std::nullopt);
        QVERIFY(ExternalTool::click(section.syncButton()));
        QTRY_COMPARE(section.statusTexts(), QStringList({QStringLiteral("未登录,热词暂未同步"), QStringLiteral("1 条待同步")}));

        // An expired sign-in.
        TokenStore::setAccessToken(m_standIn.server.issueTokens(QStringLiteral("ada"), 0).access);
        QTRY_VERIFY(section.syncButton()->isEnabled());
        QVERIFY(ExternalTool::click(section.syncButton()));
        // (what the store queues on a refusal is its own affair: some count is waiting)
        QTRY_COMPARE(section.statusTexts().value(0), QStringLiteral("登录已过期,请在设置里重新粘贴 token"));
        QVERIFY(section.statusTexts().value(1).endsWith(QStringLiteral(" 条待同步")));

        // Signed in again, "立即同步" delivers it and the notices go.
        signIn();
        QTRY_VERIFY(section.syncButton()->isEnabled());
        QVERIFY(ExternalTool::click(section.syncButton()));
        QTRY_COMPARE(section.statusTexts(), QStringList());
        QVERIFY(storeSettles());
        QCOMPARE(m_standIn.server.hotWords(QStringLiteral("ada")), QStringList({QStringLiteral("Murlex"), QStringLiteral("离线")}));
        for (const QString &word : m_store->words())
            m_store->remove(word);
        QVERIFY(storeSettles());
    }

    // Settings: the sections in order, the live status, the version without version data, and the
    // feedback link handed to the desktop byte for byte.
    void settingsShowStatusVersionAndLinks()
    {
        MainWindowServices s = services();
        s.shortVersion.clear();
        s.buildVersion.clear();
        openWindow(true, s);
        view().select(MainTab::settings);
        QCOMPARE(settings().sectionTitles(), QStringList({QStringLiteral("启动"), QStringLiteral("快捷键"), QStringLiteral("录音"),
                                                          QStringLiteral("听写结果"), QStringLiteral("认证"), QStringLiteral("状态"),
                                                          QStringLiteral("关于"), QStringLiteral("引导")}));
        QCOMPARE(settings().aboutSection()->versionLabel()->text(), QStringLiteral("v1.0 (1)"));
        QCOMPARE(AboutSection::versionText(QStringLiteral("0.1.0"), QStringLiteral("42")), QStringLiteral("v0.1.0 (42)"));

        StatusSection *status = settings().statusSection();
        QCOMPARE(status->connectionLabel()->text(), QStringLiteral("未连接"));
        QCOMPARE(home().statusPill()->text(), QStringLiteral("OFF"));
        m_state->setConnected(true);
        QCOMPARE(status->connectionLabel()->text(), QStringLiteral("已连接"));
        QCOMPARE(home().statusPill()->text(), QStringLiteral("LIVE"));
        m_state->setPhase(Phase::error(QStringLiteral("x")));
        QCOMPARE(status->phaseLabel()->text(), QStringLiteral("错误:x"));
        m_state->setPhase(Phase::polishing());
        QCOMPARE(status->phaseLabel()->text(), QStringLiteral("润色中"));
        m_state->setPhase(Phase::idle());
        m_state->setConnected(false);
        QCOMPARE(status->phaseLabel()->text(), QStringLiteral("空闲"));

        UrlRecorder urls;
        QDesktopServices::setUrlHandler(QStringLiteral("mailto"), &urls, "open");
        QDesktopServices::setUrlHandler(QStringLiteral("https"), &urls, "open");
        const auto unset = qScopeGuard([] {
            QDesktopServices::unsetUrlHandler(QStringLiteral("mailto"));
            QDesktopServices::unsetUrlHandler(QStringLiteral("https"));
        });
        const QList<QPushButton *> links = settings().aboutSection()->links();
        QCOMPARE(links.size(), 3);
        for (QPushButton *link : links)
            QVERIFY(ExternalTool::click(link));
        QTRY_COMPARE(urls.opened.size(), 3);
        QCOMPARE(urls.opened.at(0), QUrl(QStringLiteral("https://murlex.app/privacy")));
        QCOMPARE(urls.opened.at(1), QUrl(QStringLiteral("https://murlex.app/terms")));
        QCOMPARE(urls.opened.at(2).toEncoded(),
                 QByteArray("mailto:support@murlex.app?subject=Murlex%20Mac%20%E5%8F%8D%E9%A6%88"));
    }

    // Every screen in a light and a dark palette, signed out and in.
    void screenshots_data()
    {
        QTest::addColumn<bool>("dark");
        QTest::newRow("light") << false;
        QTest::newRow("dark") << true;
    }
    void screenshots()
    {
        QFETCH(bool, dark);
        const QString theme = dark ? QStringLiteral("dark") : QStringLiteral("light");
        if (dark)
            QApplication::setPalette(Artifacts::darkPalette());
        m_keys->trusted = false;
        TokenStore::setAccessToken(std::nullopt);
        QFile::remove(path(QStringLiteral("autostart/quillfen.MurlexMac.desktop")));
        m_loginItem->refresh();

        openWindow(false);
        QTest::qWait(200);
        const QImage firstRun = Artifacts::grabWindow(m_window.get());
        saveShot(QStringLiteral("first-run-") + theme, firstRun);

        openWindow();
        QTest::qWait(200);
        const QImage homeOut = Artifacts::grabWindow(m_window.get());
        saveShot(QStringLiteral("home-signed-out-") + theme, homeOut);
        // Text shows against the background: many pixels far from the window colour.
        const QColor window = QApplication::palette().color(QPalette::Window);
        int contrasting = 0;
        for (int y = 0; y < homeOut.height(); y += 2)
            for (int x = 0; x < homeOut.width(); x += 2)
                contrasting += std::abs(qGray(homeOut.pixel(x, y)) - qGray(window.rgb())) > 90;
        QVERIFY2(contrasting > 1500, qPrintable(QString::number(contrasting)));

        signIn();
        static_cast<void>(m_store->sync()); // whatever an earlier case left, the server gets it
        QVERIFY(storeSettles());
        m_store->add(QStringLiteral("Murlex"));
        m_store->add(QStringLiteral("语音输入"));
        QVERIFY(storeSettles());
        m_keys->trusted = true;
        KeyboardShortcuts::setShortcut(
            KeyboardShortcuts::Shortcut::fromKey(KeyboardShortcuts::Key::space,
                                                 KeyboardShortcuts::ModifierFlags::control | KeyboardShortcuts::ModifierFlags::option),
            GlobalHotkey::toggleDictation());
        m_state->refreshHotkeyShortcut();
        m_state->setConnected(true);
        openWindow();
        QTest::qWait(200);
        saveShot(QStringLiteral("home-signed-in-") + theme, Artifacts::grabWindow(m_window.get()));

        view().select(MainTab::hotwords);
        QTest::qWait(200);
        saveShot(QStringLiteral("hotwords-") + theme, Artifacts::grabWindow(m_window.get()));

        view().select(MainTab::settings);
        QTest::qWait(200);
        saveShot(QStringLiteral("settings-") + theme, Artifacts::grabWindow(m_window.get()));
        // The whole settings form, beyond what the window shows.
        saveShot(QStringLiteral("settings-full-") + theme, settings().grab().toImage());

        m_state->setConnected(false);
        for (const QString &word : m_store->words())
            m_store->remove(word);
        QVERIFY(storeSettles());
    }
};

QTEST_MAIN(TestMainWindow)
#include "tst_main_window.moc"
