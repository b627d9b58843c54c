// test-labels: auth
// Where the tokens are kept (the desktop's keyring, or none) and what is read from a token.
#include <libsecret/secret.h>

#include "platform/Platform.h"
#include "platform/SecretStore.h"
#include "store/JWT.h"
#include "store/TokenStore.h"

#include "HelperProcess.h"

#include <QtTest>

#include <csignal>

using namespace Qt::Literals::StringLiterals;

namespace {

SecretSchema serviceAccountSchema(const char *name, SecretSchemaFlags flags)
{
    SecretSchema s{};
    s.name = name;
    s.flags = flags;
    s.attributes[0] = {"service", SECRET_SCHEMA_ATTRIBUTE_STRING};
    s.attributes[1] = {"account", SECRET_SCHEMA_ATTRIBUTE_STRING};
    return s;
}
// Matches every item with a service and account, whoever made it.
const SecretSchema anySchema = serviceAccountSchema("org.freedesktop.Secret.Generic", SECRET_SCHEMA_DONT_MATCH_NAME);
// Its name is stored as an attribute, so its items differ from the store's own in their attribute
// set while sharing service and account.
const SecretSchema otherAppSchema = serviceAccountSchema("org.example.OtherTool", SECRET_SCHEMA_NONE);

// The values of every keyring item with this service and account.
QList<QByteArray> keyringItems(const char *account)
{
    GHashTable *attributes = secret_attributes_build(&anySchema, "service", TokenStore::service, "account", account, nullptr);
    GError *error = nullptr;
    GList *items = secret_service_search_sync(nullptr, &anySchema, attributes,
                                              SecretSearchFlags(SECRET_SEARCH_ALL | SECRET_SEARCH_UNLOCK | SECRET_SEARCH_LOAD_SECRETS),
                                              nullptr, &error);
    g_hash_table_unref(attributes);
    QList<QByteArray> values;
    if (error)
        qWarning("keyring search failed: %s", error->message);
    g_clear_error(&error);
    for (GList *it = items; it; it = it->next) {
        SecretValue *value = secret_item_get_secret(SECRET_ITEM(it->data));
        gsize length = 0;
        const gchar *bytes = value ? secret_value_get(value, &length) : nullptr;
        values.append(QByteArray(bytes ? bytes : "", qsizetype(length)));
        if (value)
            secret_value_unref(value);
    }
    g_list_free_full(items, g_object_unref);
    return values;
}

void storeAsOtherTool(const char *account, const char *password, const char *collection)
{
    GError *error = nullptr;
    secret_password_store_sync(&otherAppSchema, collection, "other tool", password, nullptr, &error,
                               "service", TokenStore::service, "account", account, nullptr);
    if (error)
        qWarning("store failed: %s", error->message);
    g_clear_error(&error);
}

QProcessEnvironment onBus(const QString &address)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(u"DBUS_SESSION_BUS_ADDRESS"_s, address);
    return env;
}

// The probe's lines, "<op> <result> <ms>"; none unless it ran to a clean exit.
QStringList runProbe(const QString &busAddress, const QStringList &args)
{
    QProcess probe;
    probe.setProcessEnvironment(onBus(busAddress));
    probe.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    probe.start(QStringLiteral(MURLEX_TEST_HELPERS_DIR "/tokenstore_probe"), args);
    if (!probe.waitForFinished(60000)) {
        probe.kill();
        probe.waitForFinished();
    }
    const bool clean = probe.exitStatus() == QProcess::NormalExit && probe.exitCode() == 0;
    return clean ? QString::fromUtf8(probe.readAllStandardOutput()).split(QLatin1Char('\n'), Qt::SkipEmptyParts) : QStringList();
}

// Every probe line took between `minMs` and `maxMs`, and every read found nothing.
void verifyProbe(const QStringList &lines, int count, int minMs, int maxMs)
{
    QCOMPARE(lines.size(), count);
    for (const QString &line : lines) {
        const int ms = line.section(QLatin1Char(' '), 2, 2).toInt();
        QVERIFY2(ms >= minMs && ms < maxMs, qPrintable(line));
        if (line.startsWith("read"_L1))
            QCOMPARE(line.section(QLatin1Char(' '), 0, 1), u"read none"_s);
    }
}

// A session bus of its own with nothing on it and no services to start: no keyring at all.
class EmptyBus {
public:
    bool start()
    {
        QFile config(m_dir.filePath(u"bus.conf"_s));
        if (!m_dir.isValid() || !config.open(QIODevice::WriteOnly))
            return false;
        config.write("<busconfig><type>session</type><listen>unix:path=" + QFile::encodeName(m_dir.filePath(u"bus"_s))
                     + "</listen><policy context=\"default\"><allow send_destination=\"*\" eavesdrop=\"true\"/>"
                       "<allow eavesdrop=\"true\"/><allow own=\"*\"/></policy></busconfig>\n");
        config.close();
        // The address is printed once the bus listens.
        m_daemon.emplace(u"/usr/bin/dbus-daemon"_s, QStringList{u"--config-file="_s + config.fileName(), u"--nofork"_s, u"--nopidfile"_s, u"--print-address"_s});
        const std::optional<QString> rest = m_daemon->waitForLine(u"unix:"_s);
        m_address = rest ? u"unix:"_s + rest->trimmed() : QString();
        return rest.has_value();
    }
    QString address() const { return m_address; }

private:
    QTemporaryDir m_dir;
    std::optional<HelperProcess> m_daemon;
    QString m_address;
};

QString segment(const QByteArray &bytes)
{
    return QString::fromLatin1(bytes.toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals));
}
// header.payload.signature with the payload given as JSON text
QString token(const QByteArray &payloadJson)
{
    return segment(R"({"alg":"HS256","typ":"JWT"})") + QLatin1Char('.') + segment(payloadJson) + u".c2lnbmF0dXJl"_s;
}
QDateTime utc(qint64 msecs) { return QDateTime::fromMSecsSinceEpoch(msecs, Qt::UTC); }

} // namespace

using OptionalBytes = std::optional<QByteArray>;
using OptionalDate = std::optional<QDateTime>;
using OptionalText = std::optional<QString>;
Q_DECLARE_METATYPE(OptionalBytes)
Q_DECLARE_METATYPE(OptionalDate)
Q_DECLARE_METATYPE(OptionalText)

class TestTokenStore : public QObject {
    Q_OBJECT

    static void clearBoth()
    {
        TokenStore::setAccessToken(std::nullopt);
        TokenStore::setRefreshToken(std::nullopt);
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY2(!qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS"), "no session bus: run the tests through scripts/harness.sh");
    }
    void init() { clearBoth(); }
    void cleanupTestCase() { clearBoth(); }

    // One item per account holding the text's UTF-8 bytes; items of the same identity made by
    // another tool are replaced, not duplicated, and a delete removes them all.
    void writesUtf8ItemsOnePerAccount()
    {
        TokenStore::setRefreshToken(QString()); // empty text reads back as empty, not as none
        QCOMPARE(TokenStore::refreshToken(), std::optional<QString>(QString()));
        QCOMPARE(keyringItems(TokenStore::refreshTokenAccount), QList<QByteArray>{QByteArray()});
        TokenStore::setAccessToken(QString::fromUtf8("token-é"));
        QCOMPARE(keyringItems(TokenStore::accessTokenAccount), QList<QByteArray>{QByteArray("token-\xc3\xa9")});
        TokenStore::setRefreshToken(u"refresh-1"_s);
        TokenStore::setAccessToken(std::nullopt);
        QCOMPARE(TokenStore::accessToken(), std::nullopt);
        QCOMPARE(TokenStore::refreshToken(), std::optional<QString>(u"refresh-1"_s));
        QCOMPARE(keyringItems(TokenStore::refreshTokenAccount), QList<QByteArray>{QByteArray("refresh-1")});

        storeAsOtherTool(TokenStore::accessTokenAccount, "old-1", SECRET_COLLECTION_DEFAULT);
        storeAsOtherTool(TokenStore::accessTokenAccount, "old-2", SECRET_COLLECTION_SESSION);
        QCOMPARE(keyringItems(TokenStore::accessTokenAccount).size(), 2);
        QVERIFY(TokenStore::accessToken().has_value());
        TokenStore::setAccessToken(u"mine"_s);
        QCOMPARE(keyringItems(TokenStore::accessTokenAccount), QList<QByteArray>{QByteArray("mine")});
        QCOMPARE(TokenStore::accessToken(), std::optional<QString>(u"mine"_s));
        storeAsOtherTool(TokenStore::accessTokenAccount, "old-3", SECRET_COLLECTION_SESSION);
        TokenStore::setAccessToken(std::nullopt);
        QCOMPARE(keyringItems(TokenStore::accessTokenAccount), QList<QByteArray>{});
    }

    // The access token is asked of the keyring once and then held: an item changed behind the
    // store's back is not seen, every change through the store is, at once. Bytes that are not
    // UTF-8 read as none.
    void accessTokenHeldUntilChangedThroughTheStore()
    {
        TokenStore::setAccessToken(u"first"_s);
        QCOMPARE(TokenStore::accessToken(), std::optional<QString>(u"first"_s));
        Platform::secretStore().write(QLatin1String(TokenStore::service), QLatin1String(TokenStore::accessTokenAccount), "elsewhere");
        QCOMPARE(TokenStore::accessToken(), std::optional<QString>(u"first"_s));
        TokenStore::setAccessToken(u"second"_s);
        QCOMPARE(TokenStore::accessToken(), std::optional<QString>(u"second"_s));
        QCOMPARE(keyringItems(TokenStore::accessTokenAccount), QList<QByteArray>{QByteArray("second")});
        // Signed out: the held copy goes with the item.
        TokenStore::setAccessToken(std::nullopt);
        QCOMPARE(TokenStore::accessToken(), std::nullopt);
        // None is not held: a token that appears later in the keyring is found.
        const std::pair<QByteArray, std::optional<QString>> items[] = {
            {"later", u"later"_s}, {"tok\xe7\x83", std::nullopt}, {"\xef\xbb\xbftok", u"\uFEFFtok"_s}};
        for (const auto &[bytes, expected] : items) {
            TokenStore::setAccessToken(std::nullopt);
            Platform::secretStore().write(QLatin1String(TokenStore::service), QLatin1String(TokenStore::accessTokenAccount), bytes);
            QCOMPARE(TokenStore::accessToken(), expected);
        }
    }

    // No bus at all, and a bus without a keyring: reads find nothing and writes are dropped, fast,
    // nowhere near the bound of a call. A keyring that never answers is given up at that bound.
    void noKeyringOrOneThatNeverAnswers()
    {
        EmptyBus bus;
        QVERIFY(bus.start());
        for (const QString &address : {u"unix:path=/nonexistent/murlex-no-bus"_s, bus.address()})
            verifyProbe(runProbe(address, {u"write:abc"_s, u"read"_s, u"delete"_s, u"read"_s}), 4, 0, 2000);

        HelperProcess silent(u"silent_bus_name"_s, {u"org.freedesktop.secrets"_s}, onBus(bus.address()));
        QVERIFY(silent.waitForLine(u"ready"_s));
        QCOMPARE(::kill(pid_t(silent.process().processId()), SIGSTOP), 0);
        // The real bound: a read gives up after about five seconds, not the bus's 25.
        verifyProbe(runProbe(bus.address(), {u"read"_s}), 1, 4500, 10000);
        // Writes and deletes are bounded the same way (shortened here).
        verifyProbe(runProbe(bus.address(), {u"--timeout-ms"_s, u"300"_s, u"write:abc"_s, u"delete"_s}), 2, 250, 3000);
        silent.process().kill(); // a stopped process would not end on the usual request
        silent.process().waitForFinished();
    }

    void base64URLDecode_data()
    {
        QTest::addColumn<QString>("segment");
        QTest::addColumn<OptionalBytes>("expected");
        // (Every valid unpadded length and the URL alphabet: see the round trip below.)
        QTest::newRow("4k+1: three appended, fails") << "QUJDR" << OptionalBytes();
        QTest::newRow("standard alphabet passes too") << "+/8" << OptionalBytes("\xfb\xff");
        QTest::newRow("padding already present") << "QQ==" << OptionalBytes("A");
        QTest::newRow("padding in the middle") << "QQ==QUJD" << OptionalBytes();
        QTest::newRow("non-ASCII") << QString::fromUtf8("QUé") << OptionalBytes();
    }
    void base64URLDecode()
    {
        QFETCH(QString, segment);
        QFETCH(OptionalBytes, expected);
        QCOMPARE(JWT::base64URLDecode(segment), expected);
    }

    void base64URLDecodeRoundTripsEveryLength()
    {
        QByteArray bytes;
        for (int n = 0; n < 64; ++n) {
            QCOMPARE(JWT::base64URLDecode(segment(bytes)), OptionalBytes(bytes));
            bytes.append(char(0xF9 - n * 7));
        }
    }

    void expiry_data()
    {
        const QString payload = segment(R"({"exp":1700000000,"sub":"u"})");
        QTest::addColumn<QString>("token");
        QTest::addColumn<OptionalDate>("expected");
        QTest::newRow("integer") << token(R"({"exp":1700000000})") << OptionalDate(utc(1700000000000));
        QTest::newRow("fraction kept") << token(R"({"exp":1700000000.25})") << OptionalDate(utc(1700000000250));
        QTest::newRow("before 1970") << token(R"({"exp":-1.5})") << OptionalDate(utc(-1500));
        QTest::newRow("empty header and signature still three pieces")
            << (QLatin1Char('.') + payload + QLatin1Char('.')) << OptionalDate(utc(1700000000000));
        QTest::newRow("digits as a string") << token(R"({"exp":"1700000000"})") << OptionalDate();
        QTest::newRow("missing") << token(R"({"sub":"x"})") << OptionalDate();
        QTest::newRow("payload not base64") << (u"a."_s + payload + u"!.c"_s) << OptionalDate();
        QTest::newRow("two pieces") << (u"a."_s + payload) << OptionalDate();
        QTest::newRow("empty middle piece") << (u"a.."_s + payload) << OptionalDate();
    }
    void expiry()
    {
        QFETCH(QString, token);
        QFETCH(OptionalDate, expected);
        QCOMPARE(JWT::expiry(token), expected);
    }

    void subject_data()
    {
        const QString payload = segment(R"({"sub":"user-42","exp":1})");
        QTest::addColumn<QString>("token");
        QTest::addColumn<OptionalText>("expected");
        QTest::newRow("three pieces") << token(R"({"sub":"user-42"})") << OptionalText("user-42");
        QTest::newRow("exactly two pieces") << (u"hdr."_s + payload) << OptionalText("user-42");
        QTest::newRow("empty pieces dropped") << (u"hdr.."_s + payload + u".."_s) << OptionalText("user-42");
        QTest::newRow("non-ASCII") << token(R"({"sub":"用户"})") << OptionalText(QString::fromUtf8("用户"));
        QTest::newRow("empty subject") << token(R"({"sub":""})") << OptionalText(QString(""));
        QTest::newRow("number") << token(R"({"sub":42})") << OptionalText();
        QTest::newRow("array payload") << token(R"(["user-42"])") << OptionalText();
        QTest::newRow("one piece") << payload << OptionalText();
        QTest::newRow("payload not base64") << (u"hdr.@@@@"_s) << OptionalText();
    }
    void subject()
    {
        QFETCH(QString, token);
        QFETCH(OptionalText, expected);
        QCOMPARE(JWT::subject(token), expected);
    }
};

QTEST_GUILESS_MAIN(TestTokenStore)
#include "tst_tokenstore.moc"
