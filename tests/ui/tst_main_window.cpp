// test-labels: ui
// test-services: desktop
// The main window on the harness's X server under its window manager, driven through its real
// widgets: the shared state, the hot words store over the real client against the stand-in, the
// tokens in the harness's keyring, launch at login through a real autostart directory, and the
// recorder pressed with xdotool. Only the accessibility trust is a fake (the X server's cannot be
// taken away and given back). And the account section on its own: sign-in by a pasted token and
// its failures, sign-out, the upload alerts, and the account-deletion mail. Screenshots of every
// tab in a light and a dark palette go to build/test/artifacts/ui/.
#include "Artifacts.h"
#include "ExternalTool.h"
#include "HelperProcess.h"
#include "LogCapture.h"
#include "StandIn.h"
#include "UiServices.h"
#include "app/AppState.h"
#include "platform/Platform.h"
#include "shortcuts/GlobalHotkey.h"
#include "shortcuts/KeyboardShortcuts.h"
#include "shortcuts/ModifierFlags.h"
#include "shortcuts/Recorder.h"
#include "store/HotWordsStore.h"
#include "store/JWT.h"
#include "store/DictationPreferences.h"
#include "store/MetricsKitObserver.h"
#include "store/TokenStore.h"
#include "ui/AboutSection.h"
#include "ui/AccessibilityPermissionRow.h"
#include "ui/AccessibilityTrustPoll.h"
#include "ui/AuthSection.h"
#include "ui/OnboardingView.h"
#include "ui/GuideCard.h"
#include "ui/HomeTab.h"
#include "ui/HotwordsSection.h"
#include "ui/HotwordsTab.h"
#include "ui/KeycapView.h"
#include "ui/LoginItemRow.h"
#include "ui/MainWindow.h"
#include "ui/MainWindowView.h"
#include "ui/ResultOptionsRow.h"
#include "ui/SettingsTab.h"
#include "ui/StatusPill.h"
#include "ui/StatusSection.h"
#include "ui/ToggleBindingHint.h"
#include "ui/TextPathRow.h"

#include <QCheckBox>
#include <QDesktopServices>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonDocument>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QSettings>
#include <QUrlQuery>
#include <QtTest>

#include <algorithm>

using namespace std::chrono_literals;

namespace {

const QString label = QStringLiteral("ui");

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

const QString kSupport = QStringLiteral("support@murlex.test");
const QString kApple = QStringLiteral("/auth/apple");
const QString kUnreadable = QStringLiteral("无法读取 Apple identityToken");

// An unsigned token of JWT form with these claims.
QString craftedToken(const QJsonObject &claims)
{
    const QByteArray payload = QJsonDocument(claims).toJson(QJsonDocument::Compact).toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals);
    return QStringLiteral("eyJhbGciOiJub25lIn0.") + QString::fromLatin1(payload) + QStringLiteral(".x");
}

// The visible button with this text (in the section or in an alert), or null.
QAbstractButton *button(const QWidget *root, const QString &text)
{
    for (QAbstractButton *candidate : root->findChildren<QAbstractButton *>())
        if (candidate->text() == text && candidate->isVisible())
            return candidate;
    return nullptr;
}

bool click(const QWidget *root, const QString &text)
{
    QAbstractButton *target = button(root, text);
    if (target)
        target->click();
    return target;
}

bool showsText(const QWidget *root, const QString &text)
{
    const QList<QLabel *> labels = root->findChildren<QLabel *>();
    return std::any_of(labels.begin(), labels.end(), [&](const QLabel *label) { return label->isVisible() && label->text() == text; });
}

QMessageBox *openAlert(const QWidget *root)
{
    QMessageBox *box = nullptr;
    QTest::qWaitFor([&] { return (box = root->findChild<QMessageBox *>()) && box->isVisible(); }, 90000);
    return box;
}
} // namespace

class TestMainWindow : public QObject {
    Q_OBJECT

    UiServices m_ui;
    StandIn m_standIn;
    std::unique_ptr<QSettings> m_storeSettings;
    std::unique_ptr<HotWordsStore> m_store;
    std::unique_ptr<MainWindow> m_window;

    QString path(const QString &name) const { return m_ui.path(name); }
    MainWindowServices services()
    {
        MainWindowServices s = m_ui.services();
        s.hotWords = m_store.get();
        return s;
    }

    // A fresh window over the test's parts, with the first run completed unless told otherwise.
    MainWindow &openWindow(bool completed = true, MainWindowServices s = {})
    {
        m_window.reset();
        m_ui.firstRun().setCompletedOnboarding(completed);
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
    void saveShot(const QString &name, const QImage &image) { QVERIFY(UiServices::saveShot(label, name, image)); }

    // The account section alone, as its own window.
    std::unique_ptr<AuthSection> shownSection()
    {
        auto section = std::make_unique<AuthSection>(AuthSection::Services{kSupport, {}});
        section->resize(560, section->sizeHint().height());
        section->show();
        if (!QTest::qWaitForWindowExposed(section.get()))
            return nullptr;
        return section;
    }
    void storeTokens(const QString &subject)
    {
        const DevServer::Tokens tokens = m_standIn.server.issueTokens(subject);
        TokenStore::setAccessToken(tokens.access);
        TokenStore::setRefreshToken(tokens.refresh);
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY2(QGuiApplication::platformName() == QStringLiteral("xcb"), "run the tests through scripts/harness.sh");
        QVERIFY(m_ui.setUp());
        QVERIFY(m_standIn.start());
        m_storeSettings = std::make_unique<QSettings>(path(QStringLiteral("hotwords.ini")), QSettings::IniFormat);
        m_store = HotWordsStore::create(*m_storeSettings);
    }

    void init()
    {
        QVERIFY(m_standIn.reset());
        m_ui.trusted = true;
        KeyboardShortcuts::setShortcut(std::nullopt, GlobalHotkey::toggleDictation());
        m_ui.state().refreshHotkeyShortcut();
        QApplication::setPalette(QApplication::style()->standardPalette());
        QDir(MetricsKitObserver::cacheDirectory()).removeRecursively();
    }

    void cleanup() { m_window.reset(); }
    void cleanupTestCase()
    {
        TokenStore::setAccessToken(std::nullopt);
        QDir(MetricsKitObserver::cacheDirectory()).removeRecursively();
    }

    // One window, titled "Murlex": the first-run page at 560 × 540 until it is completed, then the
    // main view in the same window; closing keeps nothing, reopening starts on 首页.
    void theWindowFollowsTheFirstRunAndStartsAtHome()
    {
        MainWindow &window = openWindow(false);
        QCOMPARE(window.windowTitle(), QStringLiteral("Murlex"));
        auto *firstRun = qobject_cast<OnboardingView *>(window.content());
        QVERIFY(firstRun);
        QCOMPARE(firstRun->currentStep(), 1);
        QCOMPARE(window.size(), QSize(560, 540));
        QCOMPARE(window.minimumSize(), window.maximumSize());

        firstRun->finish(); // the guide's own pages are driven by its suite
        QTRY_VERIFY(window.view());
        QVERIFY(m_ui.firstRun().hasCompletedOnboarding());
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
        QVERIFY(ExternalTool::click(sidebar->viewport(), sidebar->visualItemRect(sidebar->item(3)).center()));
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
        QVERIFY(ExternalTool::click(settings().replayButton()));
        QTRY_VERIFY(qobject_cast<OnboardingView *>(window.content()));
        QCOMPARE(qobject_cast<OnboardingView *>(window.content())->currentStep(), 1);
        QVERIFY(!m_ui.firstRun().hasCompletedOnboarding());
        QTRY_COMPARE(window.size(), QSize(560, 540));
    }

    // No shortcut: home says "未设置" and settings warns; recording one in the settings' recorder
    // removes both at once and shows the keys, also in the line the binding hint gives sway.
    void recordingAShortcutClearsBothNotices()
    {
        qputenv("XDG_CURRENT_DESKTOP", "sway");
        m_ui.state().setDesktopSession(DesktopSession{.kind = DesktopSession::Kind::wayland});
        const auto undo = qScopeGuard([this] {
            m_ui.state().setDesktopSession(std::nullopt);
            qunsetenv("XDG_CURRENT_DESKTOP");
        });
        openWindow();
        QVERIFY(home().noShortcutLabel()->isVisible());
        QVERIFY(!home().keycap());
        const QString heroWithout = home().heroLine()->text();

        view().select(MainTab::settings);
        QVERIFY(settings().shortcutWarning()->isVisible());
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
        QVERIFY(home().heroLine()->text() != heroWithout);
        QVERIFY(settings().toggleBindingHint()->isVisible());
        QCOMPARE(settings().toggleBindingHint()->commandLabel()->text(), QStringLiteral("bindsym Ctrl+Alt+k exec murlex --toggle"));
    }

    // The accessibility card and the settings row follow the trust within about a second (the
    // real interval) while shown; hidden, neither asks at all.
    void accessibilityPollsOnlyWhileVisible()
    {
        m_ui.trusted = false;
        openWindow();
        QVERIFY(home().accessibilityCard()->isVisible());
        QVERIFY(home().trustPoll()->isPolling());
        QVERIFY(!settings().statusSection()->accessibilityRow()->trustPoll()->isPolling());

        QElapsedTimer clock;
        clock.start();
        m_ui.trusted = true;
        QTRY_VERIFY_WITH_TIMEOUT(home().accessibilityCard()->isHidden(), 2500);
        QVERIFY2(clock.elapsed() <= 1600, qPrintable(QString::number(clock.elapsed())));

        // The hot words tab: neither view is visible, no one asks.
        view().select(MainTab::hotwords);
        QVERIFY(!home().trustPoll()->isPolling());
        m_ui.trustQueries = 0;
        QTest::qWait(2300);
        QCOMPARE(m_ui.trustQueries, 0);

        // Settings: the row (built while untrusted) catches up within a poll, then follows.
        AccessibilityPermissionRow *row = settings().statusSection()->accessibilityRow();
        QVERIFY(row->requestButton()->isVisibleTo(row));
        view().select(MainTab::settings);
        QTRY_VERIFY_WITH_TIMEOUT(row->grantedLabel()->isVisible(), 1600);
        QVERIFY(row->requestButton()->isHidden());
        m_ui.trusted = false;
        QTRY_VERIFY_WITH_TIMEOUT(row->requestButton()->isVisible(), 1600);
        // (Closed, the view and its polls are gone: theWindowFollowsTheFirstRunAndStartsAtHome.)
    }

    // The home cards. The token card: shown for no token and for an empty one, gone once a token is
    // stored (read again when 首页 is shown). Launch at login from its card and the settings
    // switch, over a real autostart directory.
    void homeCardsFollowTheTokenAndLaunchAtLogin()
    {
        QFile::remove(path(QStringLiteral("autostart/quillfen.MurlexMac.desktop")));
        m_ui.loginItem().refresh();
        TokenStore::setAccessToken(QString());
        openWindow();
        GuideCard *tokenCard = home().accessTokenCard();
        QVERIFY(tokenCard->isVisible() && !tokenCard->actionButton());
        signIn();
        view().select(MainTab::settings);
        view().select(MainTab::home);
        QVERIFY(tokenCard->isHidden());
        TokenStore::setAccessToken(std::nullopt);
        view().select(MainTab::hotwords);
        view().select(MainTab::home);
        QVERIFY(tokenCard->isVisible());

        QVERIFY(m_ui.loginItem().isInstallableLocation());
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
        QVERIFY(!m_ui.loginItem().isRegistered());
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
    // field kept, deletion, and the status following a server fault and "立即同步".
    void hotWordsGoThroughTheStore()
    {
        signIn();
        openWindow();
        view().select(MainTab::hotwords);
        HotwordsSection &section = hotwords();
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

        // "立即同步" delivers it and the notices go. (The store's other states: its own suite.)
        QTRY_VERIFY(section.syncButton()->isEnabled());
        QVERIFY(ExternalTool::click(section.syncButton()));
        QTRY_COMPARE(section.statusTexts(), QStringList());
        QVERIFY(storeSettles());
        QCOMPARE(m_standIn.server.hotWords(QStringLiteral("ada")), QStringList({QStringLiteral("Murlex"), QStringLiteral("离线")}));
        for (const QString &word : m_store->words())
            m_store->remove(word);
        QVERIFY(storeSettles());
    }

    // Settings: the live status, the version without version data, and the feedback link handed
    // to the desktop byte for byte.
    void settingsShowStatusVersionAndLinks()
    {
        MainWindowServices s = services();
        s.shortVersion.clear();
        s.buildVersion.clear();
        openWindow(true, s);
        view().select(MainTab::settings);
        QCOMPARE(settings().aboutSection()->versionLabel()->text(), QStringLiteral("v1.0 (1)"));

        StatusSection *status = settings().statusSection();
        QCOMPARE(status->connectionLabel()->text(), QStringLiteral("未连接"));
        QCOMPARE(home().statusPill()->text(), QStringLiteral("OFF"));
        m_ui.state().setConnected(true);
        QCOMPARE(status->connectionLabel()->text(), QStringLiteral("已连接"));
        QCOMPARE(home().statusPill()->text(), QStringLiteral("LIVE"));
        m_ui.state().setPhase(Phase::error(QStringLiteral("x")));
        QCOMPARE(status->phaseLabel()->text(), QStringLiteral("错误:x"));
        m_ui.state().setPhase(Phase::idle());
        m_ui.state().setConnected(false);

        UrlRecorder urls;
        QDesktopServices::setUrlHandler(QStringLiteral("mailto"), &urls, "open");
        QDesktopServices::setUrlHandler(QStringLiteral("https"), &urls, "open");
        const auto unset = qScopeGuard([] {
            QDesktopServices::unsetUrlHandler(QStringLiteral("mailto"));
            QDesktopServices::unsetUrlHandler(QStringLiteral("https"));
        });
        const QList<QPushButton *> links = settings().aboutSection()->links();
        for (QPushButton *link : links)
            QVERIFY(ExternalTool::click(link));
        QTRY_COMPARE(urls.opened.size(), 3);
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
        const auto shoot = [&](const QString &name, int ink = 1500) {
            QTest::qWait(200);
            QVERIFY(UiServices::saveShot(label, name + theme, Artifacts::grabWindow(m_window.get()), ink));
        };
        if (dark)
            QApplication::setPalette(Artifacts::darkPalette());
        m_ui.trusted = false;
        TokenStore::setAccessToken(QString()); // an empty token is no sign-in either
        QFile::remove(path(QStringLiteral("autostart/quillfen.MurlexMac.desktop")));
        m_ui.loginItem().refresh();

        openWindow(false);
        shoot(QStringLiteral("first-run-"));
        openWindow();
        shoot(QStringLiteral("home-signed-out-"), 6000);
        // The whole settings form, beyond what the window shows, signed out and (below) in.
        view().select(MainTab::settings);
        QVERIFY(!qobject_cast<AuthSection *>(settings().authSection())->isSignedIn());
        saveShot(QStringLiteral("settings-full-signed-out-") + theme, settings().grab().toImage());

        signIn();
        static_cast<void>(m_store->sync()); // whatever an earlier case left, the server gets it
        QVERIFY(storeSettles());
        m_store->add(QStringLiteral("Murlex"));
        m_store->add(QStringLiteral("语音输入"));
        QVERIFY(storeSettles());
        m_ui.trusted = true;
        KeyboardShortcuts::setShortcut(
            KeyboardShortcuts::Shortcut::fromKey(KeyboardShortcuts::Key::space,
                                                 KeyboardShortcuts::ModifierFlags::control | KeyboardShortcuts::ModifierFlags::option),
            GlobalHotkey::toggleDictation());
        m_ui.state().refreshHotkeyShortcut();
        m_ui.state().setConnected(true);
        openWindow();
        shoot(QStringLiteral("home-signed-in-"));
        view().select(MainTab::hotwords);
        shoot(QStringLiteral("hotwords-"));
        view().select(MainTab::settings);
        shoot(QStringLiteral("settings-"));
        saveShot(QStringLiteral("settings-full-") + theme, settings().grab().toImage());

        m_ui.state().setConnected(false);
        for (const QString &word : m_store->words())
            m_store->remove(word);
        QVERIFY(storeSettles());
    }

    // A refused exchange says so and stores nothing; then a pasted token signs in, the exchange
    // shown while it runs, and signing out deletes both items from the keyring.
    void signsInWithAPastedToken()
    {
        const QString identity = QStringLiteral("pasted-identity-7Q2");
        const auto owner = HelperProcess::clipboardOwner({{QStringLiteral("text/plain;charset=utf-8"), (identity + u'\n').toUtf8()}});
        QVERIFY(owner);
        QVERIFY(m_standIn.server.setRestFault({.method = "POST", .path = kApple, .status = 401, .body = "令牌无效"}));
        // The stand-in answers the next one late enough to see the exchange running.
        QVERIFY(m_standIn.server.setRestFault({.method = "POST", .path = kApple, .delayMs = 1500}));
        LogCapture log;
        const auto section = shownSection();
        QVERIFY(section);
        QSignalSpy changed(section.get(), &AuthSection::signedInChanged);
        auto *field = section->findChild<QLineEdit *>();
        QTest::keyClicks(field, QStringLiteral("refused-identity"));
        QTest::keyClick(field, Qt::Key_Return);
        QTRY_VERIFY_WITH_TIMEOUT(showsText(section.get(), QStringLiteral("交换 token 失败:auth 接口 HTTP 401: 令牌无效")), 20000);
        QVERIFY(!section->isSignedIn() && field->text().isEmpty() && button(section.get(), QStringLiteral("登录")));
        QVERIFY(!TokenStore::accessToken() && !TokenStore::refreshToken());

        QVERIFY(click(section.get(), QStringLiteral("粘贴")));
        QCOMPARE(field->text(), identity); // the line break is not part of the token
        QVERIFY(click(section.get(), QStringLiteral("登录")));
        QVERIFY(section->inProgress());
        QVERIFY(showsText(section.get(), QStringLiteral("登录中…")));
        QVERIFY(!button(section.get(), QStringLiteral("登录")));

        QTRY_VERIFY_WITH_TIMEOUT(section->isSignedIn(), 20000);
        QCOMPARE(changed.count(), 1);
        QVERIFY(showsText(section.get(), QStringLiteral("已通过 Apple ID 登录")));
        QCOMPARE(m_standIn.server.requestCount("POST", kApple), 2);
        // The keyring holds the stand-in's tokens for that identity.
        QCOMPARE(JWT::subject(TokenStore::accessToken().value_or(QString())), std::optional<QString>(identity));
        QVERIFY(!TokenStore::refreshToken().value_or(QString()).isEmpty());
        // The token is gone from the field and was never logged.
        QVERIFY(field->text().isEmpty());
        for (const LogCapture::Entry &entry : log.entries())
            QVERIFY2(!entry.message.contains(identity), qPrintable(entry.message));

        QVERIFY(click(section.get(), QStringLiteral("退出登录")));
        QVERIFY(!section->isSignedIn() && showsText(section.get(), QStringLiteral("使用 Apple ID 登录")));
        QVERIFY(!TokenStore::accessToken() && !TokenStore::refreshToken());
    }

    void refusesAnUnreadableToken_data()
    {
        QTest::addColumn<QString>("clipboardType"); // empty: the field's text is used
        QTest::addColumn<QByteArray>("clipboardBytes");
        QTest::addColumn<QString>("fieldText");
        QTest::newRow("empty field") << QString() << QByteArray() << QString();
        QTest::newRow("only white space") << QString() << QByteArray() << QStringLiteral(" \t ");
        QTest::newRow("unpaired surrogate") << QString() << QByteArray() << (QStringLiteral("eyJ") + QChar(0xD800));
        QTest::newRow("UTF-8 target not UTF-8") << QStringLiteral("text/plain;charset=utf-8") << QByteArray::fromHex("ff61c0af") << QString();
        QTest::newRow("plain text not UTF-8") << QStringLiteral("text/plain") << QByteArray::fromHex("61ff62") << QString();
        QTest::newRow("no text at all") << QStringLiteral("image/png") << QByteArray::fromHex("89504e470d0a1a0a") << QString();
    }
    void refusesAnUnreadableToken()
    {
        QFETCH(QString, clipboardType);
        QFETCH(QByteArray, clipboardBytes);
        QFETCH(QString, fieldText);
        const auto section = shownSection();
        QVERIFY(section);
        if (!clipboardType.isEmpty()) {
            const auto owner = HelperProcess::clipboardOwner({{clipboardType, clipboardBytes}});
            QVERIFY(owner);
            QVERIFY(click(section.get(), QStringLiteral("粘贴")));
            QCOMPARE(section->errorMessage(), std::optional<QString>(kUnreadable));
            QVERIFY(section->findChild<QLineEdit *>()->text().isEmpty());
        }
        section->findChild<QLineEdit *>()->setText(fieldText);
        QVERIFY(click(section.get(), QStringLiteral("登录")));

        QVERIFY(showsText(section.get(), kUnreadable));
        QVERIFY(!section->inProgress());
        QCOMPARE(m_standIn.server.requestCount("POST", kApple), 0);
    }

    void uploadAlerts_data()
    {
        QTest::addColumn<int>("reports");
        QTest::addColumn<int>("unauthorized"); // how many uploads the stand-in answers with 401
        QTest::addColumn<QString>("title");
        QTest::addColumn<QString>("message");
        QTest::newRow("nothing cached") << 0 << 0 << QStringLiteral("没有可上传日志") << QString();
        QTest::newRow("two reports") << 2 << 0 << QStringLiteral("已上传 2 条") << QString();
        QTest::newRow("still refused after a refresh") << 1 << 2 << QStringLiteral("上传失败") << QStringLiteral("稍后再试");
    }
    void uploadAlerts()
    {
        QFETCH(int, reports);
        QFETCH(int, unauthorized);
        QFETCH(QString, title);
        QFETCH(QString, message);
        storeTokens(QStringLiteral("uploader"));
        QDir().mkpath(MetricsKitObserver::cacheDirectory());
        for (int i = 0; i < reports; ++i) {
            QFile file(MetricsKitObserver::cacheDirectory() + QStringLiteral("/20261207-1200%1-000-metric.json").arg(i, 2, 10, QLatin1Char('0')));
            QVERIFY(file.open(QIODevice::WriteOnly) && file.write("{\"n\":1}") > 0);
        }
        const QString diagnostics = QStringLiteral("/diagnostics");
        if (unauthorized > 0)
            QVERIFY(m_standIn.server.setRestFault({.method = "POST", .path = diagnostics, .status = 401, .count = unauthorized}));
        else if (reports > 0)
            QVERIFY(m_standIn.server.setRestFault({.method = "POST", .path = diagnostics, .delayMs = 1000}));
        const auto section = shownSection();
        QVERIFY(section);

        QVERIFY(click(section.get(), QStringLiteral("上传诊断日志")));
        if (reports > 0) {
            QVERIFY(showsText(section.get(), QStringLiteral("上传中…")));
            QVERIFY(!button(section.get(), QStringLiteral("上传诊断日志")));
        }
        QMessageBox *box = openAlert(section.get());
        QVERIFY(box);
        QCOMPARE(box->text(), title);
        QCOMPARE(box->informativeText(), message);
        QCOMPARE(box->windowModality(), Qt::WindowModal);
        QCOMPARE(box->buttons().size(), 1);
        Artifacts::save(label, QStringLiteral("auth-upload-alert-") + QString::fromUtf8(QTest::currentDataTag()).replace(u' ', u'-'), box->grab().toImage());
        QVERIFY(!section->uploadInProgress() && button(section.get(), QStringLiteral("上传诊断日志")));
        QVERIFY(click(box, QStringLiteral("好")));
        QTRY_VERIFY(!section->findChild<QMessageBox *>());
    }

    void deletionMailGoesToTheDesktop_data()
    {
        QTest::addColumn<QString>("accessToken"); // empty: issued by the stand-in for "alice"
        QTest::addColumn<QByteArray>("encodedUserId");
        const qint64 exp = QDateTime::currentSecsSinceEpoch() + 3600;
        QTest::newRow("issued by the stand-in") << QString() << QByteArray("alice");
        QTest::newRow("without sub") << craftedToken({{QStringLiteral("exp"), exp}}) << QByteArray("%E6%9C%AA%E7%9F%A5");
        // "&" would end the field early; the rest of what a query allows stays as it is.
        QTest::newRow("sub with & and #") << craftedToken({{QStringLiteral("sub"), QStringLiteral("a&b#c")}}) << QByteArray("a%26b%23c");
        QTest::newRow("sub with query characters") << craftedToken({{QStringLiteral("sub"), QStringLiteral("a.b_c~d!$'()*+,;=:@/?")}})
                                                   << QByteArray("a.b_c~d!$'()*+,;=:@/?");
    }
    void deletionMailGoesToTheDesktop()
    {
        QFETCH(QString, accessToken);
        QFETCH(QByteArray, encodedUserId);
        if (accessToken.isEmpty())
            storeTokens(QStringLiteral("alice"));
        else
            TokenStore::setAccessToken(accessToken);
        UrlRecorder handler;
        QDesktopServices::setUrlHandler(QStringLiteral("mailto"), &handler, "open");
        const auto section = shownSection();
        QVERIFY(section);
        QVERIFY(click(section.get(), QStringLiteral("删除账户")));
        QDesktopServices::unsetUrlHandler(QStringLiteral("mailto"));

        QCOMPARE(handler.opened.size(), 1);
        // The subject "删除账户：<id>", then a body that asks for this account's deletion, the id on
        // a line of its own.
        const QByteArray encoded = handler.opened.constFirst().toEncoded();
        QVERIFY2(encoded.startsWith("mailto:support@murlex.test?subject=%E5%88%A0%E9%99%A4%E8%B4%A6%E6%88%B7%EF%BC%9A" + encodedUserId
                                    + "&body="),
                 encoded.constData());
        const QString body = QUrlQuery(handler.opened.constFirst()).queryItemValue(QStringLiteral("body"), QUrl::FullyDecoded);
        const QString id = QString::fromUtf8(QByteArray::fromPercentEncoding(encodedUserId));
        QVERIFY2(body.contains(QStringLiteral("删除我的 Murlex Mac 账户")) && body.contains(QStringLiteral("\n- Murlex 用户 ID：") + id + u'\n'),
                 qPrintable(body));
        QVERIFY(!section->findChild<QMessageBox *>());
    }

    void noMailHandlerOffersToCopyTheAddress()
    {
        storeTokens(QStringLiteral("no-mail"));
        // Nothing on this desktop opens mailto links: no handler and no launcher to find.
        QTemporaryDir emptyPath;
        const QByteArray path = qgetenv("PATH");
        qputenv("PATH", emptyPath.path().toLocal8Bit());
        const QByteArray browser = qgetenv("BROWSER");
        const QByteArray defaultBrowser = qgetenv("DEFAULT_BROWSER");
        qunsetenv("BROWSER");
        qunsetenv("DEFAULT_BROWSER");
        const auto owner = HelperProcess::clipboardOwner({{QStringLiteral("text/html"), "<b>x</b>"}, {QStringLiteral("text/plain"), "x"}});
        QVERIFY(owner);
        const auto section = shownSection();
        QVERIFY(section);
        const bool clicked = click(section.get(), QStringLiteral("删除账户"));
        qputenv("PATH", path);
        if (!browser.isEmpty())
            qputenv("BROWSER", browser);
        if (!defaultBrowser.isEmpty())
            qputenv("DEFAULT_BROWSER", defaultBrowser);
        QVERIFY(clicked);

        QMessageBox *box = openAlert(section.get());
        QVERIFY(box);
        QCOMPARE(box->text(), QStringLiteral("你的设备未设置邮件账户。请手动发送邮件至support@murlex.test，主题：删除账户。"));
        QCOMPARE(box->buttons().size(), 2);
        QVERIFY(box->escapeButton() && box->escapeButton() == button(box, QStringLiteral("好")));
        Artifacts::save(label, QStringLiteral("auth-no-mail-alert"), box->grab().toImage());
        QVERIFY(click(box, QStringLiteral("复制邮箱")));
        QTRY_VERIFY(!section->findChild<QMessageBox *>());

        // Exactly the address, as text alone: the HTML held before is gone.
        const QMap<QString, QByteArray> clipboard = ExternalTool::xClipboard();
        QCOMPARE(clipboard.value(QStringLiteral("UTF8_STRING")), kSupport.toUtf8());
        QVERIFY2(!QStringList(clipboard.keys()).join(u' ').contains(u"html"), qPrintable(QStringList(clipboard.keys()).join(u' ')));
    }

    // 听写结果 › 文字写入方式 follows the session probe's answer (Fcitx5 first, with what it falls
    // back to) and "只复制,不粘贴" in the same section. The section is saved in a light and a dark
    // palette.
    void theTextPathRowFollowsTheSessionAndCopyOnly()
    {
        const auto reset = qScopeGuard([this] { m_ui.state().setDesktopSession(DesktopSession{}); });
        DesktopSession x11WithFcitx5, wayland; // Wayland without any protocol or portal: clipboard only
        x11WithFcitx5.fcitx5 = true;
        wayland.kind = DesktopSession::Kind::wayland;
        for (const bool dark : {false, true}) {
            if (dark)
                QApplication::setPalette(Artifacts::darkPalette());
            m_ui.state().setDesktopSession(DesktopSession{});
            openWindow();
            view().select(MainTab::settings);
            TextPathRow *row = settings().textPathRow();
            QCOMPARE(row->pathLabel()->text(), QStringLiteral("X11 粘贴"));
            m_ui.state().setDesktopSession(wayland);
            QCOMPARE(row->pathLabel()->text(), QStringLiteral("仅复制"));
            QVERIFY(row->captionLabel()->isHidden());
            m_ui.state().setDesktopSession(x11WithFcitx5);
            QCOMPARE(row->pathLabel()->text(), QStringLiteral("Fcitx5 直接提交"));
            QCOMPARE(row->captionLabel()->text(), QStringLiteral("Fcitx5 无法提交时改用“X11 粘贴”"));
            QTest::qWait(100); // the section's layout takes the caption in
            const QImage shot = settings().findChild<QWidget *>(QStringLiteral("听写结果"))->grab().toImage();
            saveShot(dark ? QStringLiteral("settings-text-path-dark") : QStringLiteral("settings-text-path-light"), shot);

            // The result option's switch in the same section.
            settings().findChild<ResultOptionsRow *>()->copyOnlySwitch()->click();
            QCOMPARE(row->pathLabel()->text(), QStringLiteral("仅复制"));
            QCOMPARE(row->captionLabel()->text(), QStringLiteral("已开启“只复制,不粘贴”"));
            m_ui.state().preferences().setCopyOnly(false);
            QCOMPARE(row->pathLabel()->text(), QStringLiteral("Fcitx5 直接提交"));
        }
    }
};

QTEST_MAIN(TestMainWindow)
#include "tst_main_window.moc"
