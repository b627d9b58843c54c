// test-labels: diagnostics
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

using namespace Qt::Literals::StringLiterals;
using UploadResult = Expected<int, TokenFailure>;
using Sent = RecordingNetworkAccess::Sent;

namespace {
const QString kDiagnostics = u"/diagnostics"_s;
const QString kRefresh = u"/auth/refresh"_s;
const QString kCategory = u"DiagnosticsUploader"_s;
QString idOf(const Sent &sent)
{
    return QJsonDocument::fromJson(sent.body)["metric_kit_payload"_L1]["id"_L1].toString();
}
} // namespace

class TestDiagnosticsUploader : public QObject {
    Q_OBJECT

    StandIn m_standIn;
    DevServer &m_server = m_standIn.server;
    RecordingNetworkAccess *m_access = nullptr;
    DevServer::Tokens m_tokens;

    static QString path(const QString &name) { return MetricsKitObserver::cacheDirectory() + u'/' + name; }
    void put(const QString &name, const QByteArray &content)
    {
        QDir().mkpath(MetricsKitObserver::cacheDirectory());
        QFile file(path(name));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(content);
    }
    // A well-formed report that names itself.
    void putReport(const QString &name) { put(name, QJsonDocument(QJsonObject{{u"id"_s, name}, {u"n"_s, 1}}).toJson()); }
    static bool cached(const QString &name) { return QFile::exists(path(name)); }
    UploadResult upload()
    {
        std::optional<UploadResult> result = taskResult(DiagnosticsUploader::uploadAll(), 90000);
        return result ? std::move(*result) : UploadResult(TokenFailure(PlatformError{u"test"_s, -1, u"did not finish"_s}));
    }
    int posts(const QString &to) { return m_server.requestCount("POST", to); }
    void storeTokens(qint64 accessLifetimeSeconds = 3600)
    {
        m_tokens = m_server.issueTokens(u"uploader"_s, accessLifetimeSeconds);
        QVERIFY(!m_tokens.access.isEmpty());
        TokenStore::setAccessToken(m_tokens.access);
        TokenStore::setRefreshToken(m_tokens.refresh);
    }
    // Signed in with two reports cached.
    void twoReports()
    {
        storeTokens();
        putReport(u"one.json"_s);
        putReport(u"two.json"_s);
    }
    bool fault(int status, const QString &to = kDiagnostics, int delayMs = 0)
    {
        return m_server.setRestFault({.method = "POST", .path = to, .status = status, .delayMs = delayMs, .count = 1});
    }
    // The uploader's lines at `level`, sorted: files are taken in directory order.
    static QStringList sortedLines(const LogCapture &log, QtMsgType level)
    {
        QStringList lines = log.messages(kCategory, level);
        lines.sort();
        return lines;
    }
    QByteArray refreshedBearer()
    {
        const std::optional<QString> refreshed = TokenStore::accessToken();
        return refreshed && *refreshed != m_tokens.access ? "Bearer " + refreshed->toUtf8() : QByteArray("not refreshed");
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(m_standIn.start());
        m_access = &m_standIn.access();
    }
    void cleanupTestCase() { QDir(MetricsKitObserver::cacheDirectory()).removeRecursively(); }
    void init()
    {
        QVERIFY(m_standIn.reset());
        QDir(MetricsKitObserver::cacheDirectory()).removeRecursively();
    }

    // No token is stored: asking for one would end the run with an error.
    void nothingToUploadMeansNoTrafficAndNoToken()
    {
        QCOMPARE(upload().value(), 0); // no folder yet
        // Only a lowercase ".json" extension counts; hidden files and folders are not listed.
        for (const char *name : {"a.JSON", "b.json.bak", "c.txt", "json", ".hidden.json"})
            put(QString::fromLatin1(name), "{}");
        QVERIFY(QDir().mkpath(path(u"folder.json"_s)));
        QCOMPARE(upload().value(), 0);
        QVERIFY(m_access->sent().isEmpty());
        QCOMPARE(posts(kDiagnostics) + posts(kRefresh), 0);
    }

    // An expired token is refreshed before the first request; then every report goes out, and is
    // deleted once the server took it.
    void uploadsEveryReportAndDeletesIt()
    {
        const QStringList names{u"20261201-080000-001-metric.json"_s, u"20261201-080000-002-diagnostic.json"_s};
        storeTokens(0);
        for (const QString &name : names)
            putReport(name);
        LogCapture log;
        QCOMPARE(upload().value(), 2);
        QVERIFY(QDir(MetricsKitObserver::cacheDirectory()).isEmpty());
        QCOMPARE(sortedLines(log, QtInfoMsg), (QStringList{u"Uploaded and deleted: "_s + names[0], u"Uploaded and deleted: "_s + names[1]}));
        QCOMPARE(posts(kRefresh), 1);
        const QList<Sent> sent = m_access->sent();
        QCOMPARE(sent.size(), 3);
        QCOMPARE(sent.at(0).request.url().path(), kRefresh);
        for (const Sent &one : sent.mid(1)) {
            QCOMPARE(one.request.url(), QUrl(u"https://api.murlex.app/diagnostics"_s));
            QCOMPARE(one.request.header(QNetworkRequest::ContentTypeHeader).toByteArray(), QByteArray("application/json"));
            QCOMPARE(one.request.rawHeader("Authorization"), refreshedBearer());
            QCOMPARE(one.request.transferTimeout(), 60000); // a minute: not seconds, not unbounded
            QVERIFY(!one.body.contains('\n')); // compact
        }
        // The cached object itself, not its text.
        QVERIFY(!QSysInfo::prettyProductName().isEmpty());
        QCOMPARE(m_server.diagnostics().value(0),
                 (QJsonObject{{u"app_version"_s, u"0.1.0"_s},
                              {u"metric_kit_payload"_s, QJsonObject{{u"id"_s, idOf(sent.at(1))}, {u"n"_s, 1}}},
                              {u"os_version"_s, QSysInfo::prettyProductName()},
                              {u"platform"_s, u"linux"_s}}));
        QCOMPARE(m_server.diagnostics().size(), 2);
    }

    // Malformed files are skipped and kept. Without a token the first good file ends the run with
    // nothing sent; signed in, it goes.
    void malformedFilesAreSkippedAndKept()
    {
        put(u"a-broken.json"_s, "{\"truncated\":");
        put(u"b-array.json"_s, "[1, 2]");
        putReport(u"c-good.json"_s);
        LogCapture log;
        QCOMPARE(std::get<AuthError>(upload().error()), AuthError::noAccessToken());
        QVERIFY(log.contains(kCategory, QtCriticalMsg, u"Upload failed for c-good.json: 本地没有 access token，需要重新登录"_s));
        QVERIFY(m_access->sent().isEmpty());
        QVERIFY(cached(u"c-good.json"_s));
        storeTokens();
        log.clear();
        QCOMPARE(upload().value(), 1);
        QVERIFY(cached(u"a-broken.json"_s) && cached(u"b-array.json"_s) && !cached(u"c-good.json"_s));
        QCOMPARE(sortedLines(log, QtCriticalMsg), (QStringList{u"Skipping malformed cache file: a-broken.json"_s,
                                                               u"Skipping malformed cache file: b-array.json"_s}));
    }

    // A file refused with another status than 201 stays, and the run goes on to the next.
    void refusedFileStaysAndTheRunGoesOn()
    {
        twoReports();
        QVERIFY(fault(200));
        LogCapture log;
        QCOMPARE(upload().value(), 1);
        const QList<Sent> sent = m_access->sent();
        QCOMPARE(sent.size(), 2);
        QVERIFY(cached(idOf(sent.at(0))) && !cached(idOf(sent.at(1))));
        QCOMPARE(log.count(kCategory, QtCriticalMsg, u"Server error 200 for %1, keeping file"_s.arg(idOf(sent.at(0)))), 1);
        QCOMPARE(posts(kRefresh), 0);
    }

    // A 401 gets one direct refresh and one resend of the same body; what the resend gets decides.
    void unauthorizedIsRefreshedAndSentOnceMore_data()
    {
        QTest::addColumn<int>("retryStatus"); // 0: the real answer, 201
        QTest::addColumn<int>("uploaded");    // -1: the run ends with an error
        QTest::addColumn<QString>("line");
        QTest::newRow("201") << 0 << 1 << QString();
        QTest::newRow("401 again") << 401 << -1 << u"Upload failed for one.json: auth 接口 HTTP 401: Upload still unauthorized after refresh"_s;
    }
    void unauthorizedIsRefreshedAndSentOnceMore()
    {
        QFETCH(int, retryStatus);
        QFETCH(int, uploaded);
        QFETCH(QString, line);
        storeTokens();
        putReport(u"one.json"_s);
        QVERIFY(fault(401));
        QVERIFY(!retryStatus || fault(retryStatus));
        LogCapture log;
        const UploadResult result = upload();
        if (uploaded < 0)
            QCOMPARE(std::get<AuthError>(result.error()), AuthError::http(401, u"Upload still unauthorized after refresh"_s));
        else
            QCOMPARE(result.value(), uploaded);
        QCOMPARE(cached(u"one.json"_s), uploaded != 1);
        // The resend after the refresh logs nothing of its own on success.
        QCOMPARE(log.messages(kCategory, QtInfoMsg), QStringList{u"401 on upload, retrying after token refresh..."_s});
        QCOMPARE(log.messages(kCategory, QtCriticalMsg), line.isEmpty() ? QStringList() : QStringList{line});
        QCOMPARE(posts(kRefresh), 1);
        const QList<Sent> sent = m_access->sent();
        QCOMPARE(sent.size(), 3);
        QCOMPARE(sent.at(1).request.url().path(), kRefresh);
        QCOMPARE(sent.at(2).body, sent.at(0).body);
        QCOMPARE(sent.at(2).request.rawHeader("Authorization"), refreshedBearer());
    }

    void failedRefreshOrTransportEndsTheRun()
    {
        twoReports();
        QVERIFY(fault(401));
        QVERIFY(fault(401, kRefresh));
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
        QCOMPARE(std::get<PlatformError>(result.error()).domain, u"QNetworkReply"_s);
        QCOMPARE(std::get<PlatformError>(result.error()).code, int(QNetworkReply::ConnectionRefusedError));
        QVERIFY(cached(u"one.json"_s) && cached(u"two.json"_s));
    }

    // A listed file gone before its turn (pruned, or taken by another run) ends the run; what was
    // already uploaded stays deleted.
    void vanishedFileEndsTheRun()
    {
        twoReports();
        QVERIFY(fault(0, kDiagnostics, 1500));
        LogCapture log;
        auto result = std::make_shared<std::optional<UploadResult>>(); // outlives this function
        [](std::shared_ptr<std::optional<UploadResult>> out) -> QCoro::Task<> { *out = co_await DiagnosticsUploader::uploadAll(); }(result);
        QTRY_COMPARE(m_access->sent().size(), 1);
        const QString inFlight = idOf(m_access->sent().at(0));
        const QString other = inFlight == "one.json"_L1 ? u"two.json"_s : u"one.json"_s;
        QVERIFY(QFile::remove(path(other)));
        QTRY_VERIFY_WITH_TIMEOUT(result->has_value(), 30000);
        QVERIFY(!(*result)->hasValue());
        QCOMPARE(std::get<PlatformError>((*result)->error()).domain, u"QFile"_s);
        QVERIFY(!cached(inFlight));
        const QStringList errors = log.messages(kCategory, QtCriticalMsg);
        QCOMPARE(errors.size(), 1);
        QVERIFY2(errors.first().startsWith(u"Upload failed for %1: "_s.arg(other)), qPrintable(errors.first()));
    }
};

QTEST_GUILESS_MAIN(TestDiagnosticsUploader)
#include "tst_diagnosticsuploader.moc"
