// test-labels: diagnostics
// The diagnostics upload against the real stand-in backend over TLS, with tokens in the real
// keyring and the cache under a private XDG data directory: what is listed, the body, what each
// status does to the file and to the run, the token refresh rules, and the errors that end a run.
#include "net/DiagnosticsUploader.h"
#include "store/MetricsKitObserver.h"
#include "store/TokenStore.h"

#include "StandIn.h"
#include "LogCapture.h"
#include "TaskResult.h"

#include <QDir>
#include <QJsonDocument>
#include <QNetworkReply>
#include <QSysInfo>
#include <QTcpServer>
#include <QtTest>

namespace {

using UploadResult = Expected<int, TokenFailure>;

const QString kDiagnostics = QStringLiteral("/diagnostics");
const QString kRefresh = QStringLiteral("/auth/refresh");
const QString kCategory = QStringLiteral("DiagnosticsUploader");

// The uploader's lines at `level`, sorted: the files are taken in directory order.
QStringList sortedLines(const LogCapture &log, QtMsgType level)
{
    QStringList lines = log.messages(kCategory, level);
    lines.sort();
    return lines;
}

} // namespace

class TestDiagnosticsUploader : public QObject {
    Q_OBJECT

    StandIn m_standIn;
    DevServer &m_server = m_standIn.server;
    RecordingNetworkAccess *m_access = nullptr;
    DevServer::Tokens m_tokens;

    QString cacheDir() const { return MetricsKitObserver::cacheDirectory(); }

    // Writes a cache file holding `content` verbatim.
    void put(const QString &name, const QByteArray &content)
    {
        QDir().mkpath(cacheDir());
        QFile file(cacheDir() + QLatin1Char('/') + name);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(content);
    }
    // Writes a well-formed report that names itself.
    void putReport(const QString &name)
    {
        put(name, QJsonDocument(QJsonObject{{QStringLiteral("id"), name}, {QStringLiteral("n"), 1}}).toJson());
    }
    bool cached(const QString &name) const { return QFile::exists(cacheDir() + QLatin1Char('/') + name); }

    UploadResult upload()
    {
        std::optional<UploadResult> result = taskResult(DiagnosticsUploader::uploadAll(), 90000);
        if (!result)
            return TokenFailure(PlatformError{QStringLiteral("test"), -1, QStringLiteral("did not finish")});
        return std::move(*result);
    }

    int posts(const QString &path) { return m_server.requestCount("POST", path); }

    static QString idOf(const RecordingNetworkAccess::Sent &sent)
    {
        return QJsonDocument::fromJson(sent.body).object().value(QLatin1String("metric_kit_payload")).toObject().value(QLatin1String("id")).toString();
    }

    void storeTokens(qint64 accessLifetimeSeconds = 3600)
    {
        m_tokens = m_server.issueTokens(QStringLiteral("uploader"), accessLifetimeSeconds);
        QVERIFY(!m_tokens.access.isEmpty());
        TokenStore::setAccessToken(m_tokens.access);
        TokenStore::setRefreshToken(m_tokens.refresh);
    }

    bool fault(int status, int count = 1, const QString &path = kDiagnostics, int delayMs = 0)
    {
        return m_server.setRestFault({.method = "POST", .path = path, .status = status, .delayMs = delayMs, .count = count});
    }

private Q_SLOTS:
    // (The cache's place under XDG_DATA_HOME: see the crash report suite, which reads it there.)
    void initTestCase()
    {
        QVERIFY(m_standIn.start());
        m_access = &m_standIn.access();
    }
    void cleanupTestCase() { QDir(cacheDir()).removeRecursively(); }
    void init()
    {
        QVERIFY(m_standIn.reset());
        QDir(cacheDir()).removeRecursively();
    }

    // No token is stored in these: asking for one would end the run with an error.
    void nothingToUploadMeansNoTrafficAndNoToken()
    {
        QCOMPARE(upload().value(), 0); // no folder yet
        QVERIFY(QDir().mkpath(cacheDir()));
        QCOMPARE(upload().value(), 0);
        // Only a lowercase ".json" extension counts; hidden files and folders are not listed.
        for (const char *name : {"a.JSON", "b.json.bak", "c.txt", "json", ".hidden.json"})
            put(QString::fromLatin1(name), "{}");
        QVERIFY(QDir().mkpath(cacheDir() + QStringLiteral("/folder.json")));
        QCOMPARE(upload().value(), 0);

        QVERIFY(m_access->sent().isEmpty());
        QCOMPARE(posts(kDiagnostics), 0);
        QCOMPARE(posts(kRefresh), 0);
    }

    void uploadsEveryReportAndDeletesIt()
    {
        storeTokens();
        const QStringList names{QStringLiteral("20261201-080000-001-metric.json"), QStringLiteral("20261201-080000-002-diagnostic.json")};
        for (const QString &name : names)
            putReport(name);
        LogCapture log;

        QCOMPARE(upload().value(), 2);
        QVERIFY(QDir(cacheDir()).isEmpty());
        QCOMPARE(sortedLines(log, QtInfoMsg), (QStringList{QStringLiteral("Uploaded and deleted: ") + names[0],
                                                           QStringLiteral("Uploaded and deleted: ") + names[1]}));

        const QList<RecordingNetworkAccess::Sent> sent = m_access->sent();
        QCOMPARE(sent.size(), 2);
        for (const RecordingNetworkAccess::Sent &one : sent) {
            QCOMPARE(one.request.url(), QUrl(QStringLiteral("https://api.murlex.app/diagnostics")));
            QCOMPARE(one.request.header(QNetworkRequest::ContentTypeHeader).toByteArray(), QByteArray("application/json"));
            QCOMPARE(one.request.rawHeader("Authorization"), "Bearer " + m_tokens.access.toUtf8());
            QCOMPARE(one.request.transferTimeout(), 60000); // a minute: not seconds, not unbounded
            QVERIFY(!one.body.contains('\n')); // compact
        }
        const QList<QJsonObject> received = m_server.diagnostics();
        QCOMPARE(received.size(), 2);
        // The cached object itself, not its text.
        const QJsonObject payload{{QStringLiteral("id"), idOf(sent.first())}, {QStringLiteral("n"), 1}};
        QCOMPARE(received.first(), (QJsonObject{{QStringLiteral("app_version"), QStringLiteral("0.1.0")},
                                                {QStringLiteral("metric_kit_payload"), payload},
                                                {QStringLiteral("os_version"), QSysInfo::prettyProductName()},
                                                {QStringLiteral("platform"), QStringLiteral("linux")}}));
        QVERIFY(!QSysInfo::prettyProductName().isEmpty());
    }

    void malformedFilesAreSkippedAndKept_data()
    {
        QTest::addColumn<bool>("signedIn");
        QTest::newRow("signed in") << true;
        // Malformed files listed before the good one are skipped; the good one ends the run.
        QTest::newRow("no token") << false;
    }
    void malformedFilesAreSkippedAndKept()
    {
        QFETCH(bool, signedIn);
        if (signedIn)
            storeTokens();
        put(QStringLiteral("a-broken.json"), "{\"truncated\":");
        put(QStringLiteral("b-array.json"), "[1, 2]");
        putReport(QStringLiteral("c-good.json"));
        LogCapture log;

        const UploadResult result = upload();
        QVERIFY(cached(QStringLiteral("a-broken.json")) && cached(QStringLiteral("b-array.json")));
        if (signedIn) {
            QCOMPARE(sortedLines(log, QtCriticalMsg), (QStringList{QStringLiteral("Skipping malformed cache file: a-broken.json"),
                                                                   QStringLiteral("Skipping malformed cache file: b-array.json")}));
            QCOMPARE(result.value(), 1);
            QVERIFY(!cached(QStringLiteral("c-good.json")));
            return;
        }
        QCOMPARE(std::get<AuthError>(result.error()), AuthError::noAccessToken());
        QVERIFY(cached(QStringLiteral("c-good.json")));
        QVERIFY(log.contains(kCategory, QtCriticalMsg,
                             QStringLiteral("Upload failed for c-good.json: 本地没有 access token，需要重新登录")));
        QVERIFY(m_access->sent().isEmpty());
    }

    // The first file is refused; it stays, and the second still goes.
    void refusedFileStaysAndTheRunGoesOn_data()
    {
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("line"); // %1: the refused file
        QTest::newRow("200 is not success") << 200 << QStringLiteral("Server error 200 for %1, keeping file");
        QTest::newRow("413") << 413 << QStringLiteral("Payload too large (413) for %1, keeping file");
        QTest::newRow("429") << 429 << QStringLiteral("Rate limited (429), keeping file");
        QTest::newRow("503") << 503 << QStringLiteral("Server error 503 for %1, keeping file");
    }
    void refusedFileStaysAndTheRunGoesOn()
    {
        QFETCH(int, status);
        QFETCH(QString, line);
        storeTokens();
        putReport(QStringLiteral("one.json"));
        putReport(QStringLiteral("two.json"));
        QVERIFY(fault(status));
        LogCapture log;

        QCOMPARE(upload().value(), 1);
        const QList<RecordingNetworkAccess::Sent> sent = m_access->sent();
        QCOMPARE(sent.size(), 2);
        QVERIFY(cached(idOf(sent.at(0))));
        QVERIFY(!cached(idOf(sent.at(1))));
        QCOMPARE(log.count(kCategory, QtCriticalMsg, line.arg(idOf(sent.at(0)))), 1);
        QCOMPARE(posts(kRefresh), 0);
    }

    void expiredTokenIsRefreshedBeforeTheFirstRequest()
    {
        storeTokens(0); // already expired
        putReport(QStringLiteral("r.json"));

        QCOMPARE(upload().value(), 1);
        QCOMPARE(posts(kRefresh), 1);
        QCOMPARE(posts(kDiagnostics), 1);
        const std::optional<QString> refreshed = TokenStore::accessToken();
        QVERIFY(refreshed && *refreshed != m_tokens.access);
        const QList<RecordingNetworkAccess::Sent> sent = m_access->sent();
        QCOMPARE(sent.size(), 2);
        QCOMPARE(sent.at(0).request.url().path(), kRefresh);
        QCOMPARE(sent.at(1).request.rawHeader("Authorization"), "Bearer " + refreshed->toUtf8());
    }

    // A 401 gets one direct refresh and one resend of the same body; what the resend gets decides.
    void unauthorizedIsRefreshedAndSentOnceMore_data()
    {
        QTest::addColumn<int>("retryStatus"); // 0: the real answer, 201
        QTest::addColumn<int>("uploaded");    // -1: the run ends with an error
        QTest::addColumn<QString>("line");
        QTest::newRow("201") << 0 << 1 << QString();
        QTest::newRow("500") << 500 << 0 << QStringLiteral("Retry returned 500, keeping file");
        QTest::newRow("401 again")
            << 401 << -1 << QStringLiteral("Upload failed for one.json: auth 接口 HTTP 401: Upload still unauthorized after refresh");
    }
    void unauthorizedIsRefreshedAndSentOnceMore()
    {
        QFETCH(int, retryStatus);
        QFETCH(int, uploaded);
        QFETCH(QString, line);
        storeTokens();
        putReport(QStringLiteral("one.json"));
        QVERIFY(fault(401));
        if (retryStatus)
            QVERIFY(fault(retryStatus));
        LogCapture log;

        const UploadResult result = upload();
        if (uploaded < 0)
            QCOMPARE(std::get<AuthError>(result.error()), AuthError::http(401, QStringLiteral("Upload still unauthorized after refresh")));
        else
            QCOMPARE(result.value(), uploaded);
        QCOMPARE(cached(QStringLiteral("one.json")), uploaded != 1);
        // The resend after the refresh logs nothing of its own on success.
        QCOMPARE(log.messages(kCategory, QtInfoMsg), QStringList{QStringLiteral("401 on upload, retrying after token refresh...")});
        QCOMPARE(log.messages(kCategory, QtCriticalMsg), line.isEmpty() ? QStringList() : QStringList{line});

        QCOMPARE(posts(kRefresh), 1);
        const QList<RecordingNetworkAccess::Sent> sent = m_access->sent();
        QCOMPARE(sent.size(), 3);
        QCOMPARE(sent.at(1).request.url().path(), kRefresh);
        QCOMPARE(sent.at(2).body, sent.at(0).body);
        const std::optional<QString> refreshed = TokenStore::accessToken();
        QVERIFY(refreshed && *refreshed != m_tokens.access);
        QCOMPARE(sent.at(2).request.rawHeader("Authorization"), "Bearer " + refreshed->toUtf8());
    }

    void failedRefreshOrTransportEndsTheRun()
    {
        storeTokens();
        putReport(QStringLiteral("one.json"));
        putReport(QStringLiteral("two.json"));
        QVERIFY(fault(401));
        QVERIFY(fault(401, 1, kRefresh));
        UploadResult result = upload();
        QCOMPARE(std::get<AuthError>(result.error()).status, 401);
        QCOMPARE(posts(kDiagnostics), 1); // the second file is not attempted

        QTcpServer closed; // a port nobody listens on once it is closed again
        QVERIFY(closed.listen(QHostAddress::LocalHost));
        RedirectingNetworkAccess nowhere(closed.serverPort(), DevServer::caCertificates());
        closed.close();
        {
            const ScopedNetworkAccess elsewhere(&nowhere);
            result = upload();
        }
        QCOMPARE(std::get<PlatformError>(result.error()).domain, QStringLiteral("QNetworkReply"));
        QCOMPARE(std::get<PlatformError>(result.error()).code, int(QNetworkReply::ConnectionRefusedError));
        QVERIFY(cached(QStringLiteral("one.json")) && cached(QStringLiteral("two.json")));
    }

    // A listed file that disappears before its turn (pruned, or uploaded by another run) cannot be
    // read: that ends the run, and what was already uploaded stays deleted.
    void vanishedFileEndsTheRun()
    {
        storeTokens();
        putReport(QStringLiteral("one.json"));
        putReport(QStringLiteral("two.json"));
        QVERIFY(fault(0, 1, kDiagnostics, 1500));
        LogCapture log;

        // Outlives this function should it fail early.
        auto result = std::make_shared<std::optional<UploadResult>>();
        [](std::shared_ptr<std::optional<UploadResult>> out) -> QCoro::Task<> {
            *out = co_await DiagnosticsUploader::uploadAll();
        }(result);
        QTRY_COMPARE(m_access->sent().size(), 1);
        const QString inFlight = idOf(m_access->sent().at(0));
        const QString other = inFlight == QLatin1String("one.json") ? QStringLiteral("two.json") : QStringLiteral("one.json");
        QVERIFY(QFile::remove(cacheDir() + QLatin1Char('/') + other));
        QTRY_VERIFY_WITH_TIMEOUT(result->has_value(), 30000);

        QVERIFY(!(*result)->hasValue());
        QCOMPARE(std::get<PlatformError>((*result)->error()).domain, QStringLiteral("QFile"));
        QVERIFY(!cached(inFlight));
        QCOMPARE(log.messages(kCategory, QtCriticalMsg).size(), 1);
        QVERIFY(log.messages(kCategory, QtCriticalMsg).first().startsWith(
            QStringLiteral("Upload failed for %1: ").arg(other)));
    }
};

QTEST_GUILESS_MAIN(TestDiagnosticsUploader)
#include "tst_diagnosticsuploader.moc"
