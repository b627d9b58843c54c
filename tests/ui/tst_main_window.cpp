// test-labels: ui
// test-services: desktop
// The main window on the harness's X server under its window manager, over real parts (UiServices,
// the stand-in, the harness's keyring), driven through its widgets and xdotool; and the account
// section on its own: sign-in by a pasted token, sign-out, the upload alerts, the deletion mail.
// Screenshots of every tab in a light and a dark palette go to build/test/artifacts/ui/.
#include "Artifacts.h"
#include "ExternalTool.h"
#include "HelperProcess.h"
#include "LogCapture.h"
#include "StandIn.h"
#include "UiServices.h"
#include "platform/Platform.h"
#include "shortcuts/GlobalHotkey.h"
#include "shortcuts/KeyboardShortcuts.h"
#include "shortcuts/ModifierFlags.h"
#include "shortcuts/Recorder.h"
#include "store/DictationPreferences.h"
#include "store/JWT.h"
#include "store/MetricsKitObserver.h"
#include "store/TokenStore.h"
#include "ui/AboutSection.h"
#include "ui/AccessibilityPermissionRow.h"
#include "ui/AccessibilityTrustPoll.h"
#include "ui/AuthSection.h"
#include "ui/GuideCard.h"
#include "ui/HomeTab.h"
#include "ui/HotwordsSection.h"
#include "ui/HotwordsTab.h"
#include "ui/KeycapView.h"
#include "ui/LoginItemRow.h"
#include "ui/MainWindow.h"
#include "ui/MainWindowView.h"
#include "ui/OnboardingView.h"
#include "ui/ResultOptionsRow.h"
#include "ui/SettingsTab.h"
#include "ui/StatusPill.h"
#include "ui/StatusSection.h"
#include "ui/TextPathRow.h"

#include <QCheckBox>
#include <QDesktopServices>
#include <QElapsedTimer>
#include <QJsonDocument>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QUrlQuery>
#include <QtTest>

#include <algorithm>

using namespace Qt::StringLiterals;

namespace {
const QString label = u"ui"_s;
const QString kSupport = u"support@murlex.test"_s;
const QString kApple = u"/auth/apple"_s;
const QString kUnreadable = u"无法读取 Apple identityToken"_s;

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

// An unsigned token of JWT form with these claims.
QString craftedToken(const QJsonObject &claims)
{
    return u"eyJhbGciOiJub25lIn0."_s
        + QString::fromLatin1(QJsonDocument(claims).toJson(QJsonDocument::Compact).toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals))
        + u".x"_s;
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
    (void)QTest::qWaitFor([&] { return (box = root->findChild<QMessageBox *>()) && box->isVisible(); }, 90000);
    return box;
}
} // namespace

class TestMainWindow : public QObject {
    Q_OBJECT

    UiServices m_ui;
    StandIn m_standIn;
    std::unique_ptr<MainWindow> m_window;

    QString path(const QString &name) const { return m_ui.path(name); }

    // A fresh window over the test's parts, with the first run completed unless told otherwise.
    MainWindow &openWindow(bool completed = true, std::optional<MainWindowServices> s = {})
    {
        m_window.reset();
        m_ui.firstRun().setCompletedOnboarding(completed);
        m_window = std::make_unique<MainWindow>(s ? std::move(*s) : m_ui.services());
        m_window->move(60, 20);
        m_window->open();
        [[maybe_unused]] const bool exposed = QTest::qWaitForWindowExposed(m_window.get());
        return *m_window;
    }
    MainWindowView &view() { return *m_window->view(); }
    HomeTab &home() { return *view().homeTab(); }
    SettingsTab &settings() { return *view().settingsTab(); }

    void signIn() { TokenStore::setAccessToken(m_standIn.server.issueTokens(u"ada"_s).access); }
    void storeTokens(const QString &subject)
    {
        const DevServer::Tokens tokens = m_standIn.server.issueTokens(subject);
        TokenStore::setAccessToken(tokens.access);
        TokenStore::setRefreshToken(tokens.refresh);
    }
    // Until every call the store made has been answered.
    bool storeSettles()
    {
        HotWordsStore &store = m_ui.hotWords();
        return QTest::qWaitFor([&] {
            return !store.isSyncing() && m_standIn.server.hotWords(u"ada"_s) == store.words() && store.pendingOpsCount() == 0;
        }, 20000);
    }
    bool clearWords()
    {
        for (const QString &word : m_ui.hotWords().words())
            m_ui.hotWords().remove(word);
        return storeSettles();
    }

    // The account section alone, as its own window.
    std::unique_ptr<AuthSection> shownSection()
    {
        auto section = std::make_unique<AuthSection>(AuthSection::Services{kSupport, {}});
        section->resize(560, section->sizeHint().height());
        section->show();
        return QTest::qWaitForWindowExposed(section.get()) ? std::move(section) : nullptr;
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY2(QGuiApplication::platformName() == u"xcb"_s, "run the tests through scripts/harness.sh");
        QVERIFY(m_ui.setUp());
        QVERIFY(m_standIn.start());
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
    // main view in the same window; closing keeps nothing, reopening starts on 首页, where a
    // recorded shortcut takes the place of the notices.
    void theWindowFollowsTheFirstRunAndStartsAtHome()
    {
        MainWindow &window = openWindow(false);
        QCOMPARE(window.windowTitle(), u"Murlex"_s);
        auto *firstRun = qobject_cast<OnboardingView *>(window.content());
        QVERIFY(firstRun && firstRun->currentStep() == 1);
        QCOMPARE(window.size(), QSize(560, 540));
        QCOMPARE(window.minimumSize(), window.maximumSize());

        firstRun->finish(); // the guide's own pages are driven by its suite
        QTRY_VERIFY(window.view());
        QVERIFY(QSettings(path(u"state.ini"_s), QSettings::IniFormat).value(u"hasCompletedOnboarding"_s).toBool());
        QTRY_COMPARE(window.size(), QSize(720, 720));
        QCOMPARE(window.minimumSize(), QSize(720, 720));
        QCOMPARE(window.maximumSize(), QSize(900, 900));

        // The sidebar (its tabs as people see them: the screenshots) within its width, at 首页.
        QListWidget *sidebar = view().sidebar();
        QVERIFY(sidebar->count() == 4 && sidebar->width() >= 160 && sidebar->width() <= 220);
        QCOMPARE(view().selection(), MainTab::home);
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

        // No shortcut: home says "未设置" and settings warns; recording one in the settings' recorder
        // removes both at once and shows its keys. (The binding hint following it: its own suite.)
        QVERIFY(home().noShortcutLabel()->isVisible() && !home().keycap());
        const QString heroWithout = home().heroLine()->text();
        view().select(MainTab::settings);
        QVERIFY(settings().shortcutWarning()->isVisible());
        KeyboardShortcuts::Recorder *recorder = settings().recorder();
        QVERIFY(ExternalTool::xdotool({u"windowactivate"_s, u"--sync"_s, QString::number(window.winId())}));
        QVERIFY(ExternalTool::click(recorder));
        QTRY_VERIFY(recorder->isRecording());
        QVERIFY(ExternalTool::xdotool({u"key"_s, u"ctrl+alt+k"_s}));
        QTRY_VERIFY(!recorder->isRecording());
        QVERIFY(KeyboardShortcuts::getShortcut(GlobalHotkey::toggleDictation()));
        QVERIFY(settings().shortcutWarning()->isHidden() && home().noShortcutLabel()->isHidden());
        QVERIFY(home().keycap());
        QCOMPARE(home().keycap()->keys(), QStringList({u"⌃"_s, u"⌥"_s, u"K"_s}));
        QVERIFY(home().heroLine()->text() != heroWithout);

        // "重看" brings the first-run page back in the same window.
        QVERIFY(ExternalTool::click(settings().replayButton()));
        QTRY_VERIFY(qobject_cast<OnboardingView *>(window.content()));
        QCOMPARE(qobject_cast<OnboardingView *>(window.content())->currentStep(), 1);
        QVERIFY(!m_ui.firstRun().hasCompletedOnboarding());
        QTRY_COMPARE(window.size(), QSize(560, 540));
    }

    // The accessibility card and the settings row follow the trust within about a second (the
    // real interval) while shown; hidden, neither asks at all.
    void accessibilityPollsOnlyWhileVisible()
    {
        m_ui.trusted = false;
        openWindow();
        QVERIFY(home().accessibilityCard()->isVisible());
        QVERIFY(home().trustPoll()->isPolling());
        AccessibilityPermissionRow *row = settings().statusSection()->accessibilityRow();
        QVERIFY(!row->trustPoll()->isPolling());
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
        QVERIFY(row->requestButton()->isVisibleTo(row));
        view().select(MainTab::settings);
        QTRY_VERIFY_WITH_TIMEOUT(row->grantedLabel()->isVisible(), 1600);
        QVERIFY(row->requestButton()->isHidden());
        m_ui.trusted = false;
        QTRY_VERIFY_WITH_TIMEOUT(row->requestButton()->isVisible(), 1600);
    }

    // The token card: shown for no token and an empty one, gone once one is stored (read again
    // when 首页 is shown). Launch at login from its card and the settings switch, over a real
    // autostart directory; run from elsewhere, the switch is disabled and says why.
    void homeCardsFollowTheTokenAndLaunchAtLogin()
    {
        QFile::remove(path(u"autostart/quillfen.MurlexMac.desktop"_s));
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

        GuideCard *card = home().loginItemCard();
        QVERIFY(card->isVisible());
        QVERIFY(ExternalTool::click(card->actionButton()));
        QTRY_VERIFY(card->isHidden());
        QVERIFY(QFile::exists(path(u"autostart/quillfen.MurlexMac.desktop"_s)));
        view().select(MainTab::settings);
        QCheckBox *toggle = settings().loginItemRow()->toggle();
        QVERIFY(toggle->isChecked() && toggle->isEnabled() && settings().loginItemRow()->caption()->isHidden());
        QVERIFY(ExternalTool::click(toggle, QPoint(8, toggle->height() / 2))); // on the box, not the empty space after the label
        QTRY_VERIFY(!toggle->isChecked());
        QVERIFY(!m_ui.loginItem().isRegistered());
        view().select(MainTab::home);
        QVERIFY(card->isVisible());

        LoginItemController elsewhere(Platform::loginItemService({QCoreApplication::applicationFilePath(), path(u"prefix"_s), path(u"autostart"_s)}));
        MainWindowServices s = m_ui.services();
        s.loginItem = &elsewhere;
        openWindow(true, s);
        QVERIFY(home().loginItemCard()->isHidden());
        LoginItemRow *row = settings().loginItemRow();
        QVERIFY(!row->toggle()->isEnabled() && !row->caption()->isHidden());
        QCOMPARE(row->caption()->text(), u"当前从 /home/ada/murlex/build/dev/src/murlex 运行,不是 /usr/local。请先 `make install` 把 App "
                                         "装到 /usr/local,再来这里打开开关。"_s);
    }

    // Hot words through the real store to the stand-in: trimmed adds, a blank one ignored with the
    // field kept, deletion, and the status following a server fault and "立即同步".
    void hotWordsGoThroughTheStore()
    {
        signIn();
        openWindow();
        view().select(MainTab::hotwords);
        HotwordsSection &section = *view().hotwordsTab()->section();
        QCOMPARE(section.statusTexts(), QStringList({u"还没有热词"_s}));
        type(section.input(), u" 词 "_s);
        QVERIFY(ExternalTool::click(section.addButton()));
        QTRY_COMPARE(section.shownWords(), QStringList({u"词"_s}));
        QCOMPARE(section.input()->text(), QString());
        type(section.input(), u"   "_s);
        QTest::keyClick(section.input(), Qt::Key_Return);
        QCOMPARE(section.input()->text(), u"   "_s);
        section.input()->clear();
        type(section.input(), u"Murlex"_s);
        QTest::keyClick(section.input(), Qt::Key_Return);
        QVERIFY(storeSettles());
        QCOMPARE(section.shownWords(), QStringList({u"词"_s, u"Murlex"_s}));
        QVERIFY(ExternalTool::click(section.deleteButton(u"词"_s)));
        QTRY_COMPARE(section.shownWords(), QStringList({u"Murlex"_s}));
        QVERIFY(storeSettles());
        QCOMPARE(m_standIn.server.hotWords(u"ada"_s), QStringList({u"Murlex"_s}));
        QCOMPARE(section.statusTexts(), QStringList());

        // The server fails: the word stays here, queued, and the section says so; "立即同步"
        // delivers it and the notices go. (The store's other states: its own suite.)
        QVERIFY(m_standIn.server.setRestFault({.method = "POST", .path = u"/hotwords"_s, .status = 503}));
        type(section.input(), u"离线"_s);
        QVERIFY(ExternalTool::click(section.addButton()));
        QTRY_COMPARE(section.statusTexts(), QStringList({u"网络异常,已存在本地"_s, u"1 条待同步"_s}));
        QVERIFY(section.syncButton()->isVisible());
        QTRY_VERIFY(section.syncButton()->isEnabled());
        QVERIFY(ExternalTool::click(section.syncButton()));
        QTRY_COMPARE(section.statusTexts(), QStringList());
        QVERIFY(storeSettles());
        QCOMPARE(m_standIn.server.hotWords(u"ada"_s), QStringList({u"Murlex"_s, u"离线"_s}));
        QVERIFY(clearWords());
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
        const QString theme = dark ? u"dark"_s : u"light"_s;
        const auto shoot = [&](const QString &name, int ink = 1500) {
            QTest::qWait(200);
            QVERIFY(UiServices::saveShot(label, name + theme, Artifacts::grabWindow(m_window.get()), ink));
        };
        if (dark)
            QApplication::setPalette(Artifacts::darkPalette());
        m_ui.trusted = false;
        TokenStore::setAccessToken(QString()); // an empty token is no sign-in either
        QFile::remove(path(u"autostart/quillfen.MurlexMac.desktop"_s));
        m_ui.loginItem().refresh();
        openWindow(false);
        shoot(u"first-run-"_s);
        openWindow();
        shoot(u"home-signed-out-"_s, 6000);
        // The whole settings form, beyond what the window shows, signed out and (below) in.
        view().select(MainTab::settings);
        QVERIFY(!qobject_cast<AuthSection *>(settings().authSection())->isSignedIn());
        QVERIFY(UiServices::saveShot(label, u"settings-full-signed-out-"_s + theme, settings().grab().toImage()));

        signIn();
        static_cast<void>(m_ui.hotWords().sync()); // whatever an earlier case left, the server gets it
        QVERIFY(storeSettles());
        m_ui.hotWords().add(u"Murlex"_s);
        m_ui.hotWords().add(u"语音输入"_s);
        QVERIFY(storeSettles());
        m_ui.trusted = true;
        KeyboardShortcuts::setShortcut(KeyboardShortcuts::Shortcut::fromKey(KeyboardShortcuts::Key::space,
                                                                            KeyboardShortcuts::ModifierFlags::control | KeyboardShortcuts::ModifierFlags::option),
                                       GlobalHotkey::toggleDictation());
        m_ui.state().refreshHotkeyShortcut();
        m_ui.state().setConnected(true);
        openWindow();
        shoot(u"home-signed-in-"_s);
        view().select(MainTab::hotwords);
        shoot(u"hotwords-"_s);
        view().select(MainTab::settings);
        shoot(u"settings-"_s);
        QVERIFY(UiServices::saveShot(label, u"settings-full-"_s + theme, settings().grab().toImage()));
        m_ui.state().setConnected(false);
        QVERIFY(clearWords());
    }

    // A refused exchange says so and stores nothing; then a pasted token signs in, the exchange
    // shown while it runs, and signing out deletes both items from the keyring.
    void signsInWithAPastedToken()
    {
        const QString identity = u"pasted-identity-7Q2"_s;
        const auto owner = HelperProcess::clipboardOwner({{u"text/plain;charset=utf-8"_s, (identity + u'\n').toUtf8()}});
        QVERIFY(owner);
        QVERIFY(m_standIn.server.setRestFault({.method = "POST", .path = kApple, .status = 401, .body = "令牌无效"}));
        // The stand-in answers the next one late enough to see the exchange running.
        QVERIFY(m_standIn.server.setRestFault({.method = "POST", .path = kApple, .delayMs = 1500}));
        LogCapture log;
        const auto section = shownSection();
        QVERIFY(section);
        QSignalSpy changed(section.get(), &AuthSection::signedInChanged);
        auto *field = section->findChild<QLineEdit *>();
        QTest::keyClicks(field, u"refused-identity"_s);
        QTest::keyClick(field, Qt::Key_Return);
        QTRY_VERIFY_WITH_TIMEOUT(showsText(section.get(), u"交换 token 失败:auth 接口 HTTP 401: 令牌无效"_s), 20000);
        QVERIFY(!section->isSignedIn() && field->text().isEmpty() && button(section.get(), u"登录"_s));

        QVERIFY(click(section.get(), u"粘贴"_s));
        QCOMPARE(field->text(), identity); // the line break is not part of the token
        QVERIFY(click(section.get(), u"登录"_s));
        QVERIFY(section->inProgress() && showsText(section.get(), u"登录中…"_s) && !button(section.get(), u"登录"_s));
        QTRY_VERIFY_WITH_TIMEOUT(section->isSignedIn(), 20000);
        QCOMPARE(changed.count(), 1);
        QVERIFY(showsText(section.get(), u"已通过 Apple ID 登录"_s));
        QCOMPARE(m_standIn.server.requestCount("POST", kApple), 2);
        // The keyring holds the stand-in's tokens for that identity; the token left the field and was never logged.
        QCOMPARE(JWT::subject(TokenStore::accessToken().value_or(QString())), std::optional<QString>(identity));
        QVERIFY(!TokenStore::refreshToken().value_or(QString()).isEmpty());
        QVERIFY(field->text().isEmpty());
        for (const LogCapture::Entry &entry : log.entries())
            QVERIFY2(!entry.message.contains(identity), qPrintable(entry.message));

        QVERIFY(click(section.get(), u"退出登录"_s));
        QVERIFY(!section->isSignedIn() && showsText(section.get(), u"使用 Apple ID 登录"_s));
        QVERIFY(!TokenStore::accessToken() && !TokenStore::refreshToken());
    }

    void refusesAnUnreadableToken_data()
    {
        QTest::addColumn<QString>("clipboardType"); // empty: the field's text is used
        QTest::addColumn<QByteArray>("clipboardBytes");
        QTest::addColumn<QString>("fieldText");
        QTest::newRow("only white space") << QString() << QByteArray() << u" \t "_s;
        QTest::newRow("unpaired surrogate") << QString() << QByteArray() << (u"eyJ"_s + QChar(0xD800));
        QTest::newRow("plain text not UTF-8") << u"text/plain"_s << QByteArray::fromHex("61ff62") << QString();
        QTest::newRow("no text at all") << u"image/png"_s << QByteArray::fromHex("89504e470d0a1a0a") << QString();
    }
    void refusesAnUnreadableToken()
    {
        QFETCH(QString, clipboardType);
        QFETCH(QByteArray, clipboardBytes);
        QFETCH(QString, fieldText);
        const auto section = shownSection();
        QVERIFY(section);
        auto *field = section->findChild<QLineEdit *>();
        if (!clipboardType.isEmpty()) {
            const auto owner = HelperProcess::clipboardOwner({{clipboardType, clipboardBytes}});
            QVERIFY(owner);
            QVERIFY(click(section.get(), u"粘贴"_s));
            QCOMPARE(section->errorMessage(), std::optional<QString>(kUnreadable));
            QVERIFY(field->text().isEmpty());
        }
        field->setText(fieldText);
        QVERIFY(click(section.get(), u"登录"_s));
        QVERIFY(showsText(section.get(), kUnreadable) && !section->inProgress());
        QCOMPARE(m_standIn.server.requestCount("POST", kApple), 0);
    }

    // Every outcome of the upload in a window-modal alert with one button, the button back once it
    // ended ("上传中…" in its place while it runs): nothing cached, two reports, still refused after
    // a refresh.
    void uploadAlerts()
    {
        storeTokens(u"uploader"_s);
        const auto section = shownSection();
        QVERIFY(section);
        const auto cache = [](int reports) {
            bool written = QDir().mkpath(MetricsKitObserver::cacheDirectory());
            for (int i = 0; i < reports; ++i) {
                QFile file(MetricsKitObserver::cacheDirectory() + u"/20261207-1200%1-000-metric.json"_s.arg(i, 2, 10, QLatin1Char('0')));
                written = written && file.open(QIODevice::WriteOnly) && file.write("{\"n\":1}") > 0;
            }
            return written;
        };
        const auto alertSays = [&](const QString &name, const QString &title, const QString &message) {
            QMessageBox *box = openAlert(section.get());
            QVERIFY(box);
            QCOMPARE(box->text(), title);
            QCOMPARE(box->informativeText(), message);
            QCOMPARE(box->windowModality(), Qt::WindowModal);
            QCOMPARE(box->buttons().size(), 1);
            Artifacts::save(label, u"auth-upload-alert-"_s + name, box->grab().toImage());
            QVERIFY(!section->uploadInProgress() && button(section.get(), u"上传诊断日志"_s));
            QVERIFY(click(box, u"好"_s));
            QTRY_VERIFY(!section->findChild<QMessageBox *>());
        };
        QVERIFY(click(section.get(), u"上传诊断日志"_s));
        alertSays(u"nothing-cached"_s, u"没有可上传日志"_s, QString());

        QVERIFY(cache(2));
        QVERIFY(m_standIn.server.setRestFault({.method = "POST", .path = u"/diagnostics"_s, .delayMs = 1000}));
        QVERIFY(click(section.get(), u"上传诊断日志"_s));
        QVERIFY(showsText(section.get(), u"上传中…"_s) && !button(section.get(), u"上传诊断日志"_s));
        alertSays(u"two-reports"_s, u"已上传 2 条"_s, QString());

        QVERIFY(cache(1));
        QVERIFY(m_standIn.server.setRestFault({.method = "POST", .path = u"/diagnostics"_s, .status = 401, .count = 2}));
        QVERIFY(click(section.get(), u"上传诊断日志"_s));
        alertSays(u"still-refused-after-a-refresh"_s, u"上传失败"_s, u"稍后再试"_s);
    }

    // 删除账户 hands the desktop a mail to support: the subject "删除账户：<id>" (未知 for a token
    // without sub; "&" and "#" escaped so the id stays whole), the id on a line of its own in the
    // body. Where nothing opens mailto links, an alert offers to copy the address, as text alone.
    void deletionMailGoesToTheDesktopOrTheAddressToTheClipboard()
    {
        const std::pair<QJsonObject, QByteArray> tokens[] = {
            {{{u"sub"_s, u"a&b#c"_s}}, "a%26b%23c"},
            {{{u"exp"_s, QDateTime::currentSecsSinceEpoch() + 3600}}, "%E6%9C%AA%E7%9F%A5"},
        };
        TokenStore::setAccessToken(craftedToken(tokens[0].first));
        const auto section = shownSection();
        QVERIFY(section);
        UrlRecorder handler;
        QDesktopServices::setUrlHandler(u"mailto"_s, &handler, "open");
        for (const auto &[claims, encodedUserId] : tokens) {
            TokenStore::setAccessToken(craftedToken(claims));
            handler.opened.clear();
            QVERIFY(click(section.get(), u"删除账户"_s));
            QCOMPARE(handler.opened.size(), 1);
            const QByteArray encoded = handler.opened.constFirst().toEncoded();
            QVERIFY2(encoded.startsWith("mailto:support@murlex.test?subject=%E5%88%A0%E9%99%A4%E8%B4%A6%E6%88%B7%EF%BC%9A" + encodedUserId + "&body="),
                     encoded.constData());
            const QString body = QUrlQuery(handler.opened.constFirst()).queryItemValue(u"body"_s, QUrl::FullyDecoded);
            const QString id = QString::fromUtf8(QByteArray::fromPercentEncoding(encodedUserId));
            QVERIFY2(body.contains(u"删除我的 Murlex Mac 账户"_s) && body.contains(u"\n- Murlex 用户 ID："_s + id + u'\n'), qPrintable(body));
            QVERIFY(!section->findChild<QMessageBox *>());
        }
        QDesktopServices::unsetUrlHandler(u"mailto"_s);

        const auto owner = HelperProcess::clipboardOwner({{u"text/html"_s, "<b>x</b>"}, {u"text/plain"_s, "x"}});
        QVERIFY(owner);
        // Nothing on this desktop opens mailto links: no handler and no launcher to find.
        QTemporaryDir emptyPath;
        const char *names[] = {"PATH", "BROWSER", "DEFAULT_BROWSER"};
        QByteArray saved[3];
        for (int i = 0; i < 3; ++i) {
            saved[i] = qgetenv(names[i]);
            qunsetenv(names[i]);
        }
        qputenv("PATH", emptyPath.path().toLocal8Bit());
        const bool clicked = click(section.get(), u"删除账户"_s);
        for (int i = 0; i < 3; ++i)
            if (!saved[i].isEmpty())
                qputenv(names[i], saved[i]);
        QVERIFY(clicked);

        QMessageBox *box = openAlert(section.get());
        QVERIFY(box);
        QCOMPARE(box->text(), u"你的设备未设置邮件账户。请手动发送邮件至support@murlex.test，主题：删除账户。"_s);
        QCOMPARE(box->buttons().size(), 2);
        QVERIFY(box->escapeButton() && box->escapeButton() == button(box, u"好"_s));
        Artifacts::save(label, u"auth-no-mail-alert"_s, box->grab().toImage());
        QVERIFY(click(box, u"复制邮箱"_s));
        QTRY_VERIFY(!section->findChild<QMessageBox *>());
        const QMap<QString, QByteArray> clipboard = ExternalTool::xClipboard();
        QCOMPARE(clipboard.value(u"UTF8_STRING"_s), kSupport.toUtf8());
        QVERIFY2(!QStringList(clipboard.keys()).join(u' ').contains(u"html"), qPrintable(QStringList(clipboard.keys()).join(u' ')));
    }

    // Settings: the live status, the version without version data, the feedback link handed to
    // the desktop byte for byte; 听写结果 › 文字写入方式 follows the session probe's answer (Fcitx5
    // first, with what it falls back to) and "只复制,不粘贴" in the same section, saved in a light
    // and a dark palette.
    void settingsFollowTheStateTheSessionAndCopyOnly()
    {
        const auto reset = qScopeGuard([this] { m_ui.state().setDesktopSession(DesktopSession{}); });
        m_ui.state().setDesktopSession(DesktopSession{});
        MainWindowServices s = m_ui.services();
        s.shortVersion.clear();
        s.buildVersion.clear();
        openWindow(true, s);
        view().select(MainTab::settings);
        QCOMPARE(settings().aboutSection()->versionLabel()->text(), u"v1.0 (1)"_s);
        StatusSection *status = settings().statusSection();
        QCOMPARE(status->connectionLabel()->text() + home().statusPill()->text(), u"未连接OFF"_s);
        m_ui.state().setConnected(true);
        QCOMPARE(status->connectionLabel()->text() + home().statusPill()->text(), u"已连接LIVE"_s);
        m_ui.state().setPhase(Phase::error(u"x"_s));
        QCOMPARE(status->phaseLabel()->text(), u"错误:x"_s);
        m_ui.state().setPhase(Phase::idle());
        m_ui.state().setConnected(false);

        UrlRecorder urls;
        for (const QString &scheme : {u"mailto"_s, u"https"_s})
            QDesktopServices::setUrlHandler(scheme, &urls, "open");
        for (QPushButton *link : settings().aboutSection()->links())
            QVERIFY(ExternalTool::click(link));
        QTRY_COMPARE(urls.opened.size(), 3);
        for (const QString &scheme : {u"mailto"_s, u"https"_s})
            QDesktopServices::unsetUrlHandler(scheme);
        QCOMPARE(urls.opened.at(2).toEncoded(), QByteArray("mailto:support@murlex.app?subject=Murlex%20Mac%20%E5%8F%8D%E9%A6%88"));

        DesktopSession x11WithFcitx5, wayland; // Wayland without any protocol or portal: clipboard only
        x11WithFcitx5.fcitx5 = true;
        wayland.kind = DesktopSession::Kind::wayland;
        TextPathRow *row = settings().textPathRow();
        QCOMPARE(row->pathLabel()->text(), u"X11 粘贴"_s);
        m_ui.state().setDesktopSession(wayland);
        QCOMPARE(row->pathLabel()->text(), u"仅复制"_s);
        QVERIFY(row->captionLabel()->isHidden());
        m_ui.state().setDesktopSession(x11WithFcitx5);
        QCOMPARE(row->pathLabel()->text(), u"Fcitx5 直接提交"_s);
        QCOMPARE(row->captionLabel()->text(), u"Fcitx5 无法提交时改用“X11 粘贴”"_s);
        for (const bool dark : {false, true}) {
            QApplication::setPalette(dark ? Artifacts::darkPalette() : QApplication::style()->standardPalette());
            QTest::qWait(100); // the section's layout takes the caption in
            const QImage shot = settings().findChild<QWidget *>(u"听写结果"_s)->grab().toImage();
            QVERIFY(UiServices::saveShot(label, dark ? u"settings-text-path-dark"_s : u"settings-text-path-light"_s, shot));
        }
        // The result option's switch in the same section.
        settings().findChild<ResultOptionsRow *>()->copyOnlySwitch()->click();
        QCOMPARE(row->pathLabel()->text(), u"仅复制"_s);
        QCOMPARE(row->captionLabel()->text(), u"已开启“只复制,不粘贴”"_s);
        m_ui.state().preferences().setCopyOnly(false);
        QCOMPARE(row->pathLabel()->text(), u"Fcitx5 直接提交"_s);
    }
};

QTEST_MAIN(TestMainWindow)
#include "tst_main_window.moc"
