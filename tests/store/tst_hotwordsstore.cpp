// test-labels: hotwords
// The hot words client and the store over it, against the stand-in: what the client sends and
// how it reads the answers, and how the store keeps, queues and replays the edits.
#include "net/HotWordsAPIClient.h"
#include "net/NetworkAccess.h"
#include "store/HotWordsStore.h"
#include "store/TokenStore.h"

#include "StandIn.h"
#include "TaskResult.h"

#include <QElapsedTimer>
#include <QNetworkReply>
#include <QSettings>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

using namespace Qt::Literals::StringLiterals;

namespace {

// The real client, counting its running calls so a case can wait for the store's background work.
class TrackedAPI : public HotWordsAPI {
public:
    explicit TrackedAPI(HotWordsAPI &inner) : m_inner(inner) {}
    int running = 0;
    QCoro::Task<Expected<QStringList, HotWordsFailure>> fetch() override { return tracked(m_inner.fetch()); }
    QCoro::Task<Expected<bool, HotWordsFailure>> add(QString word) override { return tracked(m_inner.add(word)); }
    QCoro::Task<Expected<Done, HotWordsFailure>> deleteWord(QString word) override { return tracked(m_inner.deleteWord(word)); }

private:
    HotWordsAPI &m_inner;
    template<typename Result> QCoro::Task<Result> tracked(QCoro::Task<Result> call)
    {
        ++running;
        Result result = co_await std::move(call);
        --running;
        co_return result;
    }
};

template <typename T>
Expected<T, HotWordsFailure> finished(QCoro::Task<Expected<T, HotWordsFailure>> task)
{
    std::optional<Expected<T, HotWordsFailure>> result = taskResult(std::move(task));
    return result ? std::move(*result) : Expected<T, HotWordsFailure>(HotWordsFailure(PlatformError{u"test"_s, -1, u"did not finish"_s}));
}

// The APIError of a failure; a passed-through error reads as http(-1, its description).
template <typename T>
APIError apiError(const Expected<T, HotWordsFailure> &result)
{
    if (result.hasValue())
        return APIError::http(-2, u"succeeded"_s);
    if (const APIError *error = std::get_if<APIError>(&result.error()))
        return *error;
    return APIError::http(-1, std::get<PlatformError>(result.error()).describe());
}

// Starts `task`; the flag turns true when it has finished.
std::shared_ptr<bool> started(QCoro::Task<> task)
{
    auto done = std::make_shared<bool>(false);
    [](QCoro::Task<> running, std::shared_ptr<bool> flag) -> QCoro::Task<> {
        co_await running;
        *flag = true;
    }(std::move(task), done);
    return done;
}

using Status = HotWordsStore::SyncStatus;
using Ops = QList<PendingOp>;
PendingOp addOp(const QString &word) { return PendingOp::add(word); }
PendingOp deleteOp(const QString &word) { return PendingOp::remove(word); }
const QString alice = u"alice"_s;
const QString hotwords = u"/hotwords"_s;
// Long enough that a loaded machine never trips it; a stalled request still fails in seconds.
constexpr std::chrono::milliseconds shortSessionTimeout{2000};

} // namespace

// The queue: its ops, its count, and what is stored.
#define COMPARE_QUEUE(expected)                                                                              \
    do {                                                                                                      \
        const Ops expectedOps = (expected);                                                                   \
        QCOMPARE(m_store->pendingOps(), expectedOps);                                                         \
        QCOMPARE(m_store->pendingOpsCount(), int(expectedOps.size()));                                        \
        const QVariant stored = m_settings->value(QLatin1String(HotWordsStore::pendingKey));                  \
        QCOMPARE(stored.isValid() ? PendingOp::decode(stored.toByteArray()).value_or(Ops{addOp(u"<bad>"_s)}) : Ops{}, \
                 expectedOps);                                                                                \
    } while (false)

class TestHotWordsStore : public QObject {
    Q_OBJECT

    StandIn m_standIn;
    DevServer &m_server = m_standIn.server;
    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<QSettings> m_settings;
    std::unique_ptr<HotWordsAPIClient> m_client;
    std::unique_ptr<TrackedAPI> m_api;
    std::unique_ptr<HotWordsStore> m_store;
    RecordingNetworkAccess *m_access = nullptr;
    QString m_token;

    void signIn()
    {
        m_token = m_server.issueTokens(alice).access;
        TokenStore::setAccessToken(m_token);
    }
    HotWordsStore &makeStore(const QStringList &words = {}, const Ops &queue = {})
    {
        if (!words.isEmpty())
            m_settings->setValue(QLatin1String(HotWordsStore::cacheKey), words);
        if (!queue.isEmpty())
            m_settings->setValue(QLatin1String(HotWordsStore::pendingKey), PendingOp::encode(queue));
        m_store = std::make_unique<HotWordsStore>(*m_api, *m_settings);
        return *m_store;
    }
    bool settle() { return QTest::qWaitFor([this] { return m_api->running == 0; }, 30000); }
    // An edit, and its immediate call finished.
    bool added(const QString &word) { m_store->add(word); return settle(); }
    bool removed(const QString &word) { m_store->remove(word); return settle(); }
    bool await(QCoro::Task<> task)
    {
        const std::shared_ptr<bool> done = started(std::move(task));
        return QTest::qWaitFor([&done] { return *done; }, 60000) && settle();
    }
    // The next `count` matching requests get `status` (0: the real answer) after `delayMs`, or never.
    bool fail(const QByteArray &method, const QString &path, int status, int count = 1, int delayMs = 0,
              const QByteArray &body = {}, bool stall = false)
    {
        return m_server.setRestFault({.method = method, .path = path, .status = status, .body = body, .delayMs = delayMs, .stall = stall, .count = count});
    }
    bool stall(const QByteArray &method, const QString &path, int count = 1) { return fail(method, path, 0, count, 0, {}, true); }
    int posts() { return m_server.requestCount("POST", hotwords); }
    int deletes(const QString &word) { return m_server.requestCount("DELETE", hotwords + u'/' + word); }
    QByteArray storedQueue() const { return m_settings->value(QLatin1String(HotWordsStore::pendingKey)).toByteArray(); }
    QStringList storedWords() const { return m_settings->value(QLatin1String(HotWordsStore::cacheKey)).toStringList(); }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(m_standIn.start());
        m_access = &m_standIn.access();
    }
    void init()
    {
        QVERIFY(m_standIn.reset());
        signIn();
        m_dir = std::make_unique<QTemporaryDir>();
        QVERIFY(m_dir->isValid());
        m_settings = std::make_unique<QSettings>(m_dir->filePath(u"MurlexMac.conf"_s), QSettings::IniFormat);
        m_client = std::make_unique<HotWordsAPIClient>(HotWordsAPIClient::storedAccessToken(),
                                                       HotWordsAPIClient::Timeouts{shortSessionTimeout, HotWordsAPIClient::requestTimeout});
        m_api = std::make_unique<TrackedAPI>(*m_client);
    }
    void cleanup()
    {
        QVERIFY(settle());
        m_store.reset();
        m_api.reset();
        m_client.reset();
        m_settings.reset();
        m_dir.reset();
    }

    // What a fetch sends, and the answers it refuses: another success status (its body kept as
    // text), success bodies that do not decode, and bodies beyond the transport's limit, which
    // fail as a network error naming the limit.
    void fetchSendsAnAuthorisedGetAndReadsOnlyItsAnswer()
    {
        QVERIFY(m_server.setHotWords(alice, {u"热词"_s, u"b"_s, u"热词"_s}));
        HotWordsAPIClient client;
        QCOMPARE(finished(client.fetch()).value(), (QStringList{u"热词"_s, u"b"_s, u"热词"_s}));
        QCOMPARE(m_access->sent().size(), 1);
        const QNetworkRequest request = m_access->sent().at(0).request;
        QCOMPARE(request.url(), QUrl(u"https://api.murlex.app/hotwords"_s));
        QCOMPARE(request.rawHeader("Authorization"), QByteArray("Bearer ") + m_token.toUtf8());
        QVERIFY(!request.header(QNetworkRequest::ContentTypeHeader).isValid());
        QVERIFY(fail("GET", hotwords, 200, 1, 0, R"({"hotwords":[],"more":1})")); // unknown members are ignored
        QCOMPARE(finished(client.fetch()).value(), QStringList());
        // The real limits: 15 s without progress, a minute for the whole request.
        QVERIFY(m_access->lastSession());
        QCOMPARE(m_access->lastSession()->transferTimeout(), 15000);
        QCOMPARE(HotWordsAPIClient::requestTimeout, std::chrono::milliseconds(60000));

        QVERIFY(fail("GET", hotwords, 201, 1, 0, R"({"hotwords":[]})"));
        QCOMPARE(apiError(finished(client.fetch())), APIError::http(201, uR"({"hotwords":[]})"_s));
        for (const QByteArray body : {R"({"words":[]})", R"({"hotwords":["a",1]})"}) {
            QVERIFY(fail("GET", hotwords, 200, 1, 0, body));
            QCOMPARE(apiError(finished(client.fetch())), APIError::decode());
        }
        QVERIFY(m_server.setRestFault({.method = "GET", .path = hotwords, .padBytes = NetworkAccess::maxReplyBodyBytes - 1024}));
        QCOMPARE(finished(client.fetch()).value(), (QStringList{u"热词"_s, u"b"_s, u"热词"_s}));
        QVERIFY(m_server.setRestFault({.method = "GET", .path = hotwords, .padBytes = 64 * 1024 * 1024}));
        const APIError error = apiError(finished(client.fetch()));
        QCOMPARE(error.kind, APIError::Kind::network);
        QCOMPARE(error.networkError.localizedDescription, u"answer larger than %1 bytes"_s.arg(NetworkAccess::maxReplyBodyBytes));
    }

    // Each word is one path segment, encoded once by the client and decoded once by the server;
    // a word no longer there is the server's 404.
    void deleteSendsOneEncodedSegment()
    {
        const std::pair<QString, QString> words[] = {
            {u"a/b?#1 [x]\"<>\\^`{|}"_s, u"a%2Fb%3F%231%20%5Bx%5D%22%3C%3E%5C%5E%60%7B%7C%7D"_s}, // delimiters, unsafe marks
            {u"50%2F"_s, u"50%252F"_s},                                                          // encoded text encoded again
            {u"Az09-._~!$'()*,;&=:@+"_s, u"Az09-._~!$'()*,;&=:@+"_s},                            // unreserved and kept marks
            {u"热词é😀"_s, u"%E7%83%AD%E8%AF%8D%C3%A9%F0%9F%98%80"_s},
        };
        QStringList listed{u"keep"_s};
        for (const auto &[word, path] : words)
            listed.prepend(word);
        QVERIFY(m_server.setHotWords(alice, listed));
        HotWordsAPIClient client;
        for (const auto &[word, path] : words) {
            QVERIFY(finished(client.deleteWord(word)).hasValue());
            QCOMPARE(m_access->sent().last().request.url().toString(QUrl::FullyEncoded), u"https://api.murlex.app/hotwords/"_s + path);
            QCOMPARE(m_server.requestCount("DELETE", u"/hotwords/"_s + path), 1);
        }
        QCOMPARE(m_server.hotWords(alice), QStringList{u"keep"_s});
        QCOMPARE(apiError(finished(client.deleteWord(words[0].first))).status, 404);
        (void)finished(client.deleteWord(QString()));
        QCOMPARE(m_access->sent().last().request.url().toString(QUrl::FullyEncoded), u"https://api.murlex.app/hotwords/"_s);
    }

    void nothingIsSentWithoutAToken()
    {
        const QString unpaired = QChar(0xDC00) + u"a"_s + QChar(0xD800);
        for (const std::optional<QString> &token : {std::optional<QString>(), std::optional<QString>(QString())}) {
            TokenStore::setAccessToken(token);
            HotWordsAPIClient client;
            QCOMPARE(apiError(finished(client.fetch())), APIError::noToken());
            QCOMPARE(apiError(finished(client.add(u"w"_s))), APIError::noToken());
            QCOMPARE(apiError(finished(client.deleteWord(u"w"_s))), APIError::noToken());
            // The URL check of a delete comes first.
            QCOMPARE(apiError(finished(client.deleteWord(unpaired))), APIError::http(400, u"invalid word for URL encode"_s));
        }
        // Signed in, a word that cannot be written as UTF-8 is not sent either; for an add that is
        // an encoding failure, passed through as it is.
        TokenStore::setAccessToken(m_token);
        HotWordsAPIClient client;
        const auto added = finished(client.add(unpaired));
        QVERIFY(!added.hasValue());
        QVERIFY(std::holds_alternative<PlatformError>(added.error()));
        QCOMPARE(apiError(finished(client.deleteWord(unpaired))), APIError::http(400, u"invalid word for URL encode"_s));
        QVERIFY(m_access->sent().isEmpty());
        // An expired token is sent, and refused by the server; the client does not refresh it.
        TokenStore::setAccessToken(m_server.issueTokens(u"alice"_s, 0).access);
        QCOMPARE(apiError(finished(client.fetch())).status, 401);
    }

    // The whole request's time runs out while the session still waits for progress. (No progress
    // for the session's time: the hot words store's failures, whose requests stall.)
    void stalledRequestsGiveUp()
    {
        QVERIFY(stall("GET", hotwords, -1));
        HotWordsAPIClient client(HotWordsAPIClient::storedAccessToken(), {std::chrono::milliseconds(20000), std::chrono::milliseconds(300)});
        QElapsedTimer clock;
        clock.start();
        const APIError timedOut = apiError(finished(client.fetch()));
        QCOMPARE(timedOut.kind, APIError::Kind::network);
        QCOMPARE(timedOut.networkError, (PlatformError{u"QNetworkReply"_s, int(QNetworkReply::TimeoutError), u"Operation timed out"_s}));
        QCOMPARE(timedOut.localizedDescription(), u"hotwords 网络错误：Operation timed out"_s);
        QVERIFY2(clock.elapsed() < 10000, qPrintable(QString::number(clock.elapsed())));
    }

    // Every edit is listed and saved before the server answers. A remove takes the first exact
    // match; an add trims and skips what is listed.
    void editsAreListedAndSavedFirst()
    {
        QVERIFY(m_server.setHotWords(alice, {u"a"_s, u"b"_s, u"a"_s}));
        HotWordsStore &store = makeStore();
        QVERIFY(await(store.sync()));
        QCOMPARE(store.words(), (QStringList{u"a"_s, u"b"_s, u"a"_s}));
        store.remove(u" a"_s);
        store.remove(u"zzz"_s);
        store.remove(u"a"_s);
        QCOMPARE(store.words(), (QStringList{u"b"_s, u"a"_s}));
        QCOMPARE(storedWords(), store.words());
        QVERIFY(settle());
        QCOMPARE(deletes(u"a"_s), 1);
        QCOMPARE(deletes(u"%20a"_s) + deletes(u"zzz"_s), 0);

        QSignalSpy wordsChanged(&store, &HotWordsStore::wordsChanged);
        const int posted = posts();
        store.add(u"  热词\n"_s);
        QCOMPARE(store.words(), (QStringList{u"b"_s, u"a"_s, u"热词"_s}));
        QCOMPARE(storedWords(), store.words());
        QCOMPARE(wordsChanged.size(), 1);
        for (const QString &skipped : {u"热词"_s, u"a"_s, u" \n\t "_s, QString()})
            store.add(skipped);
        store.add(u"Qt"_s);
        QVERIFY(added(u"qt"_s));
        QCOMPARE(posts(), posted + 3);
        QCOMPARE(wordsChanged.size(), 3);
        QCOMPARE(store.words(), (QStringList{u"b"_s, u"a"_s, u"热词"_s, u"Qt"_s, u"qt"_s}));
        QCOMPARE(m_server.hotWords(alice), store.words());
        QCOMPARE(store.syncStatus(), Status::ok);
        COMPARE_QUEUE(Ops{});
        // A word the server does not have counts as deleted: back to ok, nothing queued.
        QVERIFY(fail("POST", hotwords, 400));
        QVERIFY(added(u"rejected"_s));
        QCOMPARE(store.syncStatus(), Status::offline);
        QVERIFY(removed(u"rejected"_s));
        QCOMPARE(deletes(u"rejected"_s), 1);
        QCOMPARE(store.syncStatus(), Status::ok);
        COMPARE_QUEUE(Ops{});
        // A word the client cannot encode fails before it is sent: queued, the status left as it was.
        const QString unencodable = u"x"_s + QChar(0xDC00);
        QVERIFY(added(unencodable));
        QCOMPARE(store.syncStatus(), Status::ok);
        COMPARE_QUEUE(Ops{addOp(unencodable)});
        QCOMPARE(posts(), posted + 4);
    }

    void failuresAreClassified_data()
    {
        QTest::addColumn<QByteArray>("method");
        QTest::addColumn<int>("status"); // 0: the request stalls until the session gives up
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<Status>("expected");
        QTest::addColumn<bool>("kept");
        const auto row = [](const char *name, const char *method, int status, Status expected, bool kept, QByteArray body = {}) {
            QTest::newRow(name) << QByteArray(method) << status << body << expected << kept;
        };
        row("add 401", "POST", 401, Status::unauthorized, true, "expired");
        row("add 500", "POST", 500, Status::offline, true);
        row("add 403", "POST", 403, Status::offline, false);
        row("add decode", "POST", 201, Status::offline, false, R"({"stored":true})");
        row("add network", "POST", 0, Status::offline, true);
        row("delete 200", "DELETE", 200, Status::offline, false);
        row("delete network", "DELETE", 0, Status::offline, true);
    }
    // The same table decides for an immediate edit (queued or not) and for a replay (kept or not).
    void failuresAreClassified()
    {
        QFETCH(QByteArray, method);
        QFETCH(int, status);
        QFETCH(QByteArray, body);
        QFETCH(Status, expected);
        QFETCH(bool, kept);
        const bool isAdd = method == "POST";
        const PendingOp op = isAdd ? addOp(u"w"_s) : deleteOp(u"w"_s);
        auto provoke = [&] {
            const QString path = isAdd ? hotwords : hotwords + u"/w"_s;
            return status == 0 ? stall(method, path) : fail(method, path, status, 1, 0, body);
        };
        HotWordsStore &store = makeStore(isAdd ? QStringList() : QStringList{u"w"_s});
        QVERIFY(provoke());
        QVERIFY(isAdd ? added(u"w"_s) : removed(u"w"_s));
        QCOMPARE(store.syncStatus(), expected);
        COMPARE_QUEUE(kept ? Ops{op} : Ops{});
        QCOMPARE(store.words(), isAdd ? QStringList{u"w"_s} : QStringList());
        // A replay of the queued op, next to one that goes through.
        QVERIFY(m_server.setHotWords(alice, {u"w"_s}));
        m_store.reset();
        makeStore({}, {op, addOp(u"ok"_s)});
        QVERIFY(provoke());
        QVERIFY(await(m_store->flushPending()));
        QCOMPARE(m_store->syncStatus(), Status::ok); // the last op went through
        COMPARE_QUEUE(kept ? Ops{op} : Ops{});
    }

    // Not signed in, edits stay queued in their exact stored form, across a relaunch, until a
    // signed-in sync delivers them.
    void notSignedInQueuesInTheStoredForm()
    {
        TokenStore::setAccessToken(std::nullopt);
        HotWordsStore &store = makeStore({u"语音"_s});
        store.add(u"热词"_s);
        QVERIFY(removed(u"语音"_s));
        QCOMPARE(store.syncStatus(), Status::noToken);
        QCOMPARE(m_settings->value(QLatin1String(HotWordsStore::pendingKey)).typeId(), int(QMetaType::QByteArray));
        QCOMPARE(storedQueue(), QByteArray(R"([{"add":{"_0":"热词"}},{"delete":{"_0":"语音"}}])"));
        COMPARE_QUEUE((Ops{addOp(u"热词"_s), deleteOp(u"语音"_s)}));
        const QString quoted = u"a/b, \"q\""_s;
        store.add(quoted);
        QVERIFY(await(store.sync())); // kept by the flush, no upload, and the fetch says why
        QCOMPARE(store.syncStatus(), Status::noToken);
        QCOMPARE(storedQueue(), QByteArray("[{\"add\":{\"_0\":\"热词\"}},{\"delete\":{\"_0\":\"语音\"}},{\"add\":{\"_0\":\"a/b, \\\"q\\\"\"}}]"));
        QCOMPARE(store.words(), (QStringList{u"热词"_s, quoted}));
        QCOMPARE(posts() + m_server.requestCount("GET", hotwords), 0);
        // The next launch reads the same from a copy of the file.
        m_store.reset();
        const QString next = m_dir->filePath(u"relaunched.conf"_s);
        QVERIFY(QFile::copy(m_settings->fileName(), next));
        m_settings = std::make_unique<QSettings>(next, QSettings::IniFormat);
        makeStore();
        QCOMPARE(m_store->words(), (QStringList{u"热词"_s, quoted}));
        COMPARE_QUEUE((Ops{addOp(u"热词"_s), deleteOp(u"语音"_s), addOp(quoted)}));
        // Signed in again, the next sync delivers the queue; an emptied queue is stored as [].
        signIn();
        QVERIFY(await(m_store->sync()));
        QCOMPARE(m_store->syncStatus(), Status::ok);
        COMPARE_QUEUE(Ops{});
        QCOMPARE(storedQueue(), QByteArray("[]"));
        QCOMPARE(m_server.hotWords(alice), (QStringList{u"热词"_s, quoted}));
        QCOMPARE(m_store->words(), m_server.hotWords(alice));
    }

    void offlineSyncsQueueEachWordOnce()
    {
        const QStringList local{u"a"_s, u"b"_s, u"c"_s};
        const Ops queued{addOp(u"a"_s), addOp(u"b"_s), addOp(u"c"_s)};
        HotWordsStore &store = makeStore(local);
        QVERIFY(fail("POST", hotwords, 503, -1));
        QVERIFY(fail("GET", hotwords, 503, -1));
        // The second time the three are replayed and kept, the upload tries each word once more,
        // and an add already waiting is not queued again.
        for (int posted : {3, 9}) {
            QVERIFY(await(store.sync()));
            QCOMPARE(store.syncStatus(), Status::offline);
            COMPARE_QUEUE(queued);
            QCOMPARE(posts(), posted);
        }
        QCOMPARE(store.words(), local);
        // A delete queued behind them makes a later add of the same word count again.
        QVERIFY(fail("DELETE", hotwords + u"/b"_s, 503));
        QVERIFY(removed(u"b"_s));
        QVERIFY(added(u"b"_s));
        COMPARE_QUEUE((queued + Ops{deleteOp(u"b"_s), addOp(u"b"_s)}));
        // Back online, the next flush (as when a dictation connects) delivers the edits in order.
        QVERIFY(m_server.reset());
        QSignalSpy countChanged(&store, &HotWordsStore::pendingOpsCountChanged);
        static_cast<HotWordsSource &>(store).scheduleFlush();
        QTRY_COMPARE_WITH_TIMEOUT(store.pendingOpsCount(), 0, 30000);
        QVERIFY(settle());
        COMPARE_QUEUE(Ops{});
        QCOMPARE(countChanged.size(), 1);
        QCOMPARE(store.syncStatus(), Status::ok);
        QCOMPARE(m_server.hotWords(alice), (QStringList{u"a"_s, u"c"_s, u"b"_s}));
        QCOMPARE(static_cast<HotWordsSource &>(store).words(), m_server.hotWords(alice));
    }

    void fetchReplacesTheLocalList()
    {
        QVERIFY(m_server.setHotWords(alice, {u"s"_s, u"t"_s, u"s"_s}));
        HotWordsStore &store = makeStore({u"x"_s}, {addOp(u"z"_s)});
        QCOMPARE(store.pendingOpsCount(), 1);
        QVERIFY(fail("POST", hotwords, 503, -1));
        QVERIFY(await(store.sync()));
        // Exactly the server's list, duplicates and all, although x and z are still queued.
        QCOMPARE(store.words(), (QStringList{u"s"_s, u"t"_s, u"s"_s}));
        QCOMPARE(storedWords(), store.words());
        QCOMPARE(store.syncStatus(), Status::ok);
        COMPARE_QUEUE((Ops{addOp(u"z"_s), addOp(u"x"_s)}));
        // A failed fetch leaves the list alone.
        QVERIFY(fail("GET", hotwords, 401));
        QVERIFY(await(store.sync()));
        QCOMPARE(store.syncStatus(), Status::unauthorized);
        QCOMPARE(store.words().size(), 3);
        COMPARE_QUEUE((Ops{addOp(u"z"_s), addOp(u"x"_s), addOp(u"s"_s), addOp(u"t"_s)}));
    }

    // Edits made while passes wait on the server stay queued behind what the passes deal with.
    void twoSyncsTogether()
    {
        QVERIFY(m_server.setHotWords(alice, {u"b"_s, u"c"_s}));
        HotWordsStore &store = makeStore({u"a"_s, u"c"_s}, {addOp(u"a"_s), deleteOp(u"b"_s)});
        QVERIFY(fail("POST", hotwords, 0, 2, 500));
        QVERIFY(fail("DELETE", hotwords + u"/c"_s, 503));
        QSignalSpy syncing(&store, &HotWordsStore::isSyncingChanged);
        const std::shared_ptr<bool> first = started(store.sync());
        const std::shared_ptr<bool> second = started(store.sync());
        QVERIFY(store.isSyncing());
        store.remove(u"c"_s);
        QTRY_VERIFY_WITH_TIMEOUT(*first && *second, 30000);
        QVERIFY(settle());
        QCOMPARE(syncing.size(), 2); // on once, off once
        QVERIFY(!store.isSyncing());
        COMPARE_QUEUE(Ops{deleteOp(u"c"_s)});
        QCOMPARE(m_server.hotWords(alice), (QStringList{u"c"_s, u"a"_s}));
        // The next flush delivers what is still queued.
        store.scheduleFlush();
        QVERIFY(settle());
        COMPARE_QUEUE(Ops{});
        QCOMPARE(m_server.hotWords(alice), QStringList{u"a"_s});
    }

    void malformedStoredDataIsIgnoredThenOverwritten_data()
    {
        QTest::addColumn<QVariant>("cache");
        QTest::addColumn<QVariant>("queue");
        QTest::newRow("two keys in one element") << QVariant(QStringList{u"ok"_s}) << QVariant(QByteArray(R"([{"add":{"_0":"a"},"delete":{"_0":"b"}}])"));
        QTest::newRow("text instead of bytes") << QVariant() << QVariant(u"[{\"add\":{\"_0\":\"a\"}}]"_s);
        QTest::newRow("list with a number") << QVariant(QVariantList{u"a"_s, 2}) << QVariant();
    }
    void malformedStoredDataIsIgnoredThenOverwritten()
    {
        QFETCH(QVariant, cache);
        QFETCH(QVariant, queue);
        for (const auto &[key, value] : {std::pair{HotWordsStore::cacheKey, cache}, std::pair{HotWordsStore::pendingKey, queue}})
            if (value.isValid())
                m_settings->setValue(QLatin1String(key), value);
        TokenStore::setAccessToken(std::nullopt);
        HotWordsStore &store = makeStore();
        const QStringList loaded = cache.typeId() == QMetaType::QStringList ? cache.toStringList() : QStringList();
        QCOMPARE(store.words(), loaded);
        QCOMPARE(store.pendingOpsCount(), 0);
        // Left as it was until the next save.
        QCOMPARE(m_settings->value(QLatin1String(HotWordsStore::pendingKey)), queue);
        QCOMPARE(m_settings->value(QLatin1String(HotWordsStore::cacheKey)), cache);
        QVERIFY(added(u"w"_s));
        QCOMPARE(storedWords(), loaded + QStringList{u"w"_s});
        QCOMPARE(storedQueue(), QByteArray(R"([{"add":{"_0":"w"}}])"));
        COMPARE_QUEUE(Ops{addOp(u"w"_s)});
    }

    void storeGoneWhileCallsRun()
    {
        HotWordsStore &store = makeStore();
        QVERIFY(stall("POST", hotwords, -1));
        store.add(u"w"_s);
        const std::shared_ptr<bool> done = started(store.sync());
        QTRY_COMPARE(posts(), 2);
        m_store.reset();
        // The calls finish (the session gives up) with nobody left to tell.
        QVERIFY(settle());
        QVERIFY(*done);
        // A store whose client goes first.
        makeStore();
        QVERIFY(stall("GET", hotwords));
        const std::shared_ptr<bool> syncing = started(m_store->sync());
        QTRY_COMPARE(m_server.requestCount("GET", hotwords), 1);
        m_client.reset();
        QVERIFY(*syncing);
        QCOMPARE(m_store->syncStatus(), Status::offline);
        m_store.reset();
        // The application's store, which owns its client, goes with a call running.
        std::unique_ptr<HotWordsStore> owning = HotWordsStore::create(*m_settings);
        const int before = posts();
        const std::shared_ptr<bool> uploading = started(owning->sync());
        QTRY_VERIFY(posts() > before);
        owning.reset();
        QVERIFY(*uploading);
    }
};

QTEST_GUILESS_MAIN(TestHotWordsStore)
#include "tst_hotwordsstore.moc"
