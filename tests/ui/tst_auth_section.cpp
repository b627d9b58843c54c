// test-labels: ui
// The account section on the harness's X server with the real stand-in and keyring: sign-in by a
// pasted token and its failures, sign-out, the upload alerts, and the account-deletion mail.
#include "Artifacts.h"
#include "ExternalTool.h"
#include "HelperProcess.h"
#include "LogCapture.h"
#include "StandIn.h"
#include "store/JWT.h"
#include "store/MetricsKitObserver.h"
#include "store/TokenStore.h"
#include "ui/AuthSection.h"

#include <QApplication>
#include <QDesktopServices>
#include <QDir>
#include <QJsonDocument>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QStyle>
#include <QStyleFactory>
#include <QTemporaryDir>
#include <QtTest>

#include <algorithm>
#include <cstdlib>

namespace {

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

std::unique_ptr<HelperProcess> clipboardOwner(const QStringList &formats)
{
    auto owner = std::make_unique<HelperProcess>(QStringLiteral("clipboard_owner"), formats);
    return owner->waitForLine(QStringLiteral("owned")) ? std::move(owner) : nullptr;
}

QByteArray clipboardAs(const QString &target)
{
    return ExternalTool::run(QStringLiteral("xclip"), {QStringLiteral("-selection"), QStringLiteral("clipboard"), QStringLiteral("-o"),
                                                       QStringLiteral("-t"), target})
        .value_or("(unreadable)");
}

// Receives the URLs QDesktopServices hands to the "mailto" scheme.
class MailHandler : public QObject {
    Q_OBJECT
public:
    QList<QUrl> urls;
public Q_SLOTS:
    void open(const QUrl &url) { urls << url; }
};

} // namespace

class TestAuthSection : public QObject {
    Q_OBJECT

    StandIn m_standIn;
    DevServer &m_server = m_standIn.server;

    std::unique_ptr<AuthSection> shownSection(AuthSection::Services services = {kSupport, {}})
    {
        auto section = std::make_unique<AuthSection>(std::move(services));
        section->resize(560, section->sizeHint().height());
        section->show();
        if (!QTest::qWaitForWindowExposed(section.get()))
            return nullptr;
        return section;
    }

    void storeTokens(const QString &subject)
    {
        const DevServer::Tokens tokens = m_server.issueTokens(subject);
        TokenStore::setAccessToken(tokens.access);
        TokenStore::setRefreshToken(tokens.refresh);
    }

private Q_SLOTS:
    void initTestCase()
    {
        QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
        QVERIFY(m_standIn.start());
    }
    void init()
    {
        QVERIFY(m_standIn.reset());
        QDir(MetricsKitObserver::cacheDirectory()).removeRecursively();
    }
    void cleanupTestCase() { QDir(MetricsKitObserver::cacheDirectory()).removeRecursively(); }

    void anEmptyStoredAccessTokenIsSignedOut()
    {
        TokenStore::setAccessToken(QString());
        const auto section = shownSection();
        QVERIFY(section && !section->isSignedIn());
        QVERIFY(showsText(section.get(), QStringLiteral("使用 Apple ID 登录")));
        QVERIFY(!showsText(section.get(), QStringLiteral("已通过 Apple ID 登录")));
    }

    void signsInWithAPastedToken()
    {
        const QString identity = QStringLiteral("pasted-identity-7Q2");
        const auto owner = clipboardOwner({QStringLiteral("text/plain;charset=utf-8=") + QString::fromLatin1((identity + u'\n').toUtf8().toHex())});
        QVERIFY(owner);
        // The stand-in answers late enough to see the exchange running.
        QVERIFY(m_server.setRestFault({.method = "POST", .path = kApple, .delayMs = 1500}));
        LogCapture log;
        const auto section = shownSection();
        QVERIFY(section);
        QSignalSpy changed(section.get(), &AuthSection::signedInChanged);

        QVERIFY(click(section.get(), QStringLiteral("粘贴")));
        auto *field = section->findChild<QLineEdit *>();
        QCOMPARE(field->text(), identity); // the line break is not part of the token
        QVERIFY(click(section.get(), QStringLiteral("登录")));
        QVERIFY(section->inProgress());
        QVERIFY(showsText(section.get(), QStringLiteral("登录中…")));
        QVERIFY(!button(section.get(), QStringLiteral("登录")));

        QTRY_VERIFY_WITH_TIMEOUT(section->isSignedIn(), 20000);
        QCOMPARE(changed.count(), 1);
        QVERIFY(showsText(section.get(), QStringLiteral("已通过 Apple ID 登录")));
        QCOMPARE(m_server.requestCount("POST", kApple), 1);
        // The keyring holds the stand-in's tokens for that identity.
        QCOMPARE(JWT::subject(TokenStore::accessToken().value_or(QString())), std::optional<QString>(identity));
        QVERIFY(!TokenStore::refreshToken().value_or(QString()).isEmpty());
        // The token is gone from the field and was never logged.
        QVERIFY(field->text().isEmpty());
        for (const LogCapture::Entry &entry : log.entries())
            QVERIFY2(!entry.message.contains(identity), qPrintable(entry.message));

        // Signing out deletes both items from the keyring.
        QVERIFY(click(section.get(), QStringLiteral("退出登录")));
        QVERIFY(!section->isSignedIn() && showsText(section.get(), QStringLiteral("使用 Apple ID 登录")));
        QVERIFY(!TokenStore::accessToken() && !TokenStore::refreshToken());
    }

    void showsARefusedExchange()
    {
        QVERIFY(m_server.setRestFault({.method = "POST", .path = kApple, .status = 401, .body = "令牌无效"}));
        const auto section = shownSection();
        QVERIFY(section);
        auto *field = section->findChild<QLineEdit *>();
        QTest::keyClicks(field, QStringLiteral("refused-identity"));
        QTest::keyClick(field, Qt::Key_Return);

        const QString shown = QStringLiteral("交换 token 失败:auth 接口 HTTP 401: 令牌无效");
        QTRY_VERIFY_WITH_TIMEOUT(showsText(section.get(), shown), 20000);
        QVERIFY(!section->isSignedIn());
        QVERIFY(field->text().isEmpty());
        QVERIFY(button(section.get(), QStringLiteral("登录")));
        QVERIFY(!TokenStore::accessToken() && !TokenStore::refreshToken());
    }

    void refusesAnUnreadableToken_data()
    {
        QTest::addColumn<QStringList>("clipboard"); // empty: the field's text is used
        QTest::addColumn<QString>("fieldText");
        QTest::newRow("empty field") << QStringList() << QString();
        QTest::newRow("only white space") << QStringList() << QStringLiteral(" \t ");
        QTest::newRow("unpaired surrogate") << QStringList() << (QStringLiteral("eyJ") + QChar(0xD800));
        QTest::newRow("UTF-8 target not UTF-8") << QStringList{QStringLiteral("text/plain;charset=utf-8=ff61c0af")} << QString();
        QTest::newRow("plain text not UTF-8") << QStringList{QStringLiteral("text/plain=61ff62")} << QString();
        QTest::newRow("no text at all") << QStringList{QStringLiteral("image/png=89504e470d0a1a0a")} << QString();
    }
    void refusesAnUnreadableToken()
    {
        QFETCH(QStringList, clipboard);
        QFETCH(QString, fieldText);
        const auto section = shownSection();
        QVERIFY(section);
        if (!clipboard.isEmpty()) {
            const auto owner = clipboardOwner(clipboard);
            QVERIFY(owner);
            QVERIFY(click(section.get(), QStringLiteral("粘贴")));
            QCOMPARE(section->errorMessage(), std::optional<QString>(kUnreadable));
            QVERIFY(section->findChild<QLineEdit *>()->text().isEmpty());
        }
        section->findChild<QLineEdit *>()->setText(fieldText);
        QVERIFY(click(section.get(), QStringLiteral("登录")));

        QVERIFY(showsText(section.get(), kUnreadable));
        QVERIFY(!section->inProgress());
        QCOMPARE(m_server.requestCount("POST", kApple), 0);
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
            QVERIFY(m_server.setRestFault({.method = "POST", .path = diagnostics, .status = 401, .count = unauthorized}));
        else if (reports > 0)
            QVERIFY(m_server.setRestFault({.method = "POST", .path = diagnostics, .delayMs = 1000}));
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
        Artifacts::save(QStringLiteral("ui"), QStringLiteral("auth-upload-alert-") + QString::fromUtf8(QTest::currentDataTag()).replace(u' ', u'-'), box->grab().toImage());
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
        MailHandler handler;
        QDesktopServices::setUrlHandler(QStringLiteral("mailto"), &handler, "open");
        const auto section = shownSection();
        QVERIFY(section);
        QVERIFY(click(section.get(), QStringLiteral("删除账户")));
        QDesktopServices::unsetUrlHandler(QStringLiteral("mailto"));

        const QByteArray expected = "mailto:support@murlex.test?subject=%E5%88%A0%E9%99%A4%E8%B4%A6%E6%88%B7%EF%BC%9A" + encodedUserId
            + "&body=%E4%BD%A0%E5%A5%BD%EF%BC%8C%0A%0A%E6%88%91%E5%B8%8C%E6%9C%9B%E5%88%A0%E9%99%A4%E6%88%91%E7%9A%84%20Murlex%20Mac%20"
              "%E8%B4%A6%E6%88%B7%E5%8F%8A%E6%89%80%E6%9C%89%E7%9B%B8%E5%85%B3%E6%95%B0%E6%8D%AE%EF%BC%88%E7%83%AD%E8%AF%8D%E3%80%81"
              "%E8%B4%A6%E6%88%B7%E4%BF%A1%E6%81%AF%EF%BC%89%E3%80%82%0A%0A%E8%B4%A6%E6%88%B7%E4%BF%A1%E6%81%AF%EF%BC%9A%0A-%20Murlex"
              "%20%E7%94%A8%E6%88%B7%20ID%EF%BC%9A"
            + encodedUserId
            + "%0A%0A%E8%AF%B7%E5%9C%A8%E6%94%B6%E5%88%B0%E9%82%AE%E4%BB%B6%E5%90%8E%207-14%20%E4%B8%AA%E5%B7%A5%E4%BD%9C%E6%97%A5%E5%86"
              "%85%E5%AE%8C%E6%88%90%E5%88%A0%E9%99%A4%EF%BC%8C%E5%B9%B6%E5%9B%9E%E5%A4%8D%E7%A1%AE%E8%AE%A4%E9%82%AE%E4%BB%B6%E3%80%82"
              "%0A%0A%E8%B0%A2%E8%B0%A2%E3%80%82";
        QCOMPARE(handler.urls.size(), 1);
        QCOMPARE(handler.urls.constFirst().toEncoded(), expected);
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
        const auto owner = clipboardOwner({QStringLiteral("text/html=3c623e783c2f623e"), QStringLiteral("text/plain=78")});
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
        Artifacts::save(QStringLiteral("ui"), QStringLiteral("auth-no-mail-alert"), box->grab().toImage());
        QVERIFY(click(box, QStringLiteral("复制邮箱")));
        QTRY_VERIFY(!section->findChild<QMessageBox *>());

        // Exactly the address, as text alone: the HTML held before is gone.
        QCOMPARE(clipboardAs(QStringLiteral("UTF8_STRING")), kSupport.toUtf8());
        const QByteArray targets = clipboardAs(QStringLiteral("TARGETS"));
        QVERIFY2(!targets.contains("html") && !targets.contains("(unreadable)"), targets.constData());
    }

    void screenshots()
    {
        for (const QPalette &palette : {QApplication::style()->standardPalette(), Artifacts::darkPalette()}) {
            const bool isDark = palette.color(QPalette::Window).lightness() < 128;
            for (const bool signedIn : {false, true}) {
                if (signedIn)
                    storeTokens(QStringLiteral("shown"));
                const auto section = shownSection();
                QVERIFY(section);
                section->setPalette(palette);
                section->signIn(); // signed out: the empty field's error line shows too
                const QImage shot = section->grab().toImage();
                const QString name = QStringLiteral("auth-signed-%1-%2").arg(signedIn ? QStringLiteral("in") : QStringLiteral("out"), isDark ? QStringLiteral("dark") : QStringLiteral("light"));
                QVERIFY(!Artifacts::save(QStringLiteral("ui"), name, shot).isEmpty());
                // Text drawn, not empty boxes: many pixels far from the background.
                int ink = 0;
                for (int y = 0; y < shot.height(); ++y)
                    for (int x = 0; x < shot.width(); ++x)
                        ink += std::abs(qGray(shot.pixel(x, y)) - palette.color(QPalette::Window).lightness()) > 90;
                QVERIFY2(ink > 800, qPrintable(name + u' ' + QString::number(ink)));
                TokenStore::setAccessToken(std::nullopt);
            }
        }
    }
};

QTEST_MAIN(TestAuthSection)
#include "tst_auth_section.moc"
