// test-labels: hotwords
// The hot words store over the real client, against the stand-in backend with its faults, the
// token in the real keyring and the settings in a temporary file: local edits, the failure
// table, the three sync steps, interleaved flows, and what is stored.
#include "net/HotWordsAPIClient.h"
#include "store/HotWordsStore.h"
#include "store/TokenStore.h"

#include "StandIn.h"

#include <QSettings>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

namespace {

// The real client, counting the calls still running so a test can wait for the store's
// background tasks to finish.
class TrackedAPI : public HotWordsAPI {
public:
    explicit TrackedAPI(HotWordsAPI &inner) : m_inner(inner) {}
    int running() const { return m_running; }

    QCoro::Task<Expected<QStringList, HotWordsFailure>> fetch() override { return tracked(m_inner.fetch()); }
    QCoro::Task<Expected<bool, HotWordsFailure>> add(QString word) override { return tracked(m_inner.add(word)); }
    QCoro::Task<Expected<Done, HotWordsFailure>> deleteWord(QString word) override { return tracked(m_inner.deleteWord(word)); }

private:
    HotWordsAPI &m_inner;
    int m_running = 0;

    template<typename Result>
    QCoro::Task<Result> tracked(QCoro::Task<Result> call)
    {
        ++m_running;
        Result result = co_await std::move(call);
        --m_running;
        co_return result;
    }
};

// Starts `task` and reports, through the returned flag, when it has finished.
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

PendingOp addOp(const char *word) { return PendingOp::add(QString::fromUtf8(word)); }
PendingOp deleteOp(const char *word) { return PendingOp::remove(QString::fromUtf8(word)); }

const QString alice = QStringLiteral("alice");
// Long enough that a loaded machine never trips it; a stalled request still fails in seconds.
constexpr std::chrono::milliseconds shortSessionTimeout{2000};

} // namespace

// The queue: its count, its ops, and that the count matches what is stored.
#define COMPARE_QUEUE(expected)                                                                              \
    do {                                                                                                      \
        const Ops expectedOps = (expected);                                                                   \
        QCOMPARE(m_store->pendingOps(), expectedOps);                                                         \
        QCOMPARE(m_store->pendingOpsCount(), int(expectedOps.size()));                                        \
        const QVariant stored = m_settings->value(QLatin1String(HotWordsStore::pendingKey));                  \
        QCOMPARE(stored.isValid() ? PendingOp::decode(stored.toByteArray()).value_or(Ops{addOp("<bad>")}) : Ops{}, \
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

    void signIn() { TokenStore::setAccessToken(m_server.issueTokens(alice).access); }

    void preload(const QStringList &words, const QByteArray &queue = {})
    {
        m_settings->setValue(QLatin1String(HotWordsStore::cacheKey), words);
        if (!queue.isNull())
            m_settings->setValue(QLatin1String(HotWordsStore::pendingKey), queue);
    }
    HotWordsStore &makeStore()
    {
        m_store = std::make_unique<HotWordsStore>(*m_api, *m_settings);
        return *m_store;
    }
    bool settle() { return QTest::qWaitFor([this] { return m_api->running() == 0; }, 30000); }
    bool sync()
    {
        const std::shared_ptr<bool> done = started(m_store->sync());
        return QTest::qWaitFor([&done] { return *done; }, 60000) && settle();
    }
    // The next `count` matching requests are answered with `status` after `delayMs` (status 0:
    // the real answer), or never when `stall`.
    bool fail(const QByteArray &method, const QString &path, int status, int count = 1, int delayMs = 0,
              const QByteArray &body = {}, bool stall = false)
    {
        return m_server.setRestFault({.method = method, .path = path, .status = status, .body = body, .delayMs = delayMs, .stall = stall, .count = count});
    }
    bool stall(const QByteArray &method, const QString &path, int count = 1) { return fail(method, path, 0, count, 0, {}, true); }
    int posts() { return m_server.requestCount("POST", QStringLiteral("/hotwords")); }
    QByteArray storedQueue() const { return m_settings->value(QLatin1String(HotWordsStore::pendingKey)).toByteArray(); }
    QStringList storedWords() const { return m_settings->value(QLatin1String(HotWordsStore::cacheKey)).toStringList(); }

    // The next flush delivers what is still queued: nothing is left, and the server holds `words`.
    void flushDelivers(const QStringList &words)
    {
        m_store->scheduleFlush();
        QVERIFY(settle());
        COMPARE_QUEUE(Ops{});
        QCOMPARE(m_server.hotWords(alice), words);
    }

private Q_SLOTS:
    void initTestCase() { QVERIFY(m_standIn.start()); }
    void init()
    {
        QVERIFY(m_standIn.reset());
        signIn();
        m_dir = std::make_unique<QTemporaryDir>();
        QVERIFY(m_dir->isValid());
        m_settings = std::make_unique<QSettings>(m_dir->filePath(QStringLiteral("MurlexMac.conf")), QSettings::IniFormat);
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

    void addTrimsAndSkipsWhatIsListed()
    {
        HotWordsStore &store = makeStore();
        QSignalSpy wordsChanged(&store, &HotWordsStore::wordsChanged);
        store.add(QStringLiteral("  热词\n"));
        // Local first: listed and saved before the server has answered.
        QCOMPARE(store.words(), QStringList{QStringLiteral("热词")});
        QCOMPARE(storedWords(), QStringList{QStringLiteral("热词")});
        QCOMPARE(wordsChanged.size(), 1);
        QVERIFY(settle());
        QCOMPARE(m_server.hotWords(alice), QStringList{QStringLiteral("热词")});
        QCOMPARE(store.syncStatus(), Status::ok);
        COMPARE_QUEUE(Ops{});

        store.add(QStringLiteral("热词"));
        store.add(QStringLiteral(" \n\t "));
        store.add(QString());
        QVERIFY(settle());
        QCOMPARE(posts(), 1);
        QCOMPARE(wordsChanged.size(), 1);

        store.add(QStringLiteral("Qt"));
        store.add(QStringLiteral("qt"));
        QVERIFY(settle());
        QCOMPARE(store.words(), (QStringList{QStringLiteral("热词"), QStringLiteral("Qt"), QStringLiteral("qt")}));
        QCOMPARE(m_server.hotWords(alice), store.words());
        COMPARE_QUEUE(Ops{});

        // A word the client cannot encode fails before it is sent, with the client's error passed
        // through: queued, and the status left as it was.
        const QString unencodable = QStringLiteral("x") + QChar(0xDC00);
        store.add(unencodable);
        QVERIFY(settle());
        QCOMPARE(store.syncStatus(), Status::ok);
        COMPARE_QUEUE(Ops{PendingOp::add(unencodable)});
        QCOMPARE(posts(), 3);
    }

    void removeTakesTheFirstExactMatch()
    {
        QVERIFY(m_server.setHotWords(alice, {QStringLiteral("a"), QStringLiteral("b"), QStringLiteral("a")}));
        HotWordsStore &store = makeStore();
        QVERIFY(sync());
        QCOMPARE(store.words(), (QStringList{QStringLiteral("a"), QStringLiteral("b"), QStringLiteral("a")}));

        store.remove(QStringLiteral(" a"));
        store.remove(QStringLiteral("zzz"));
        store.remove(QStringLiteral("a"));
        QCOMPARE(store.words(), (QStringList{QStringLiteral("b"), QStringLiteral("a")}));
        QCOMPARE(storedWords(), store.words());
        QVERIFY(settle());
        QCOMPARE(m_server.requestCount("DELETE", QStringLiteral("/hotwords/a")), 1);
        QCOMPARE(m_server.requestCount("DELETE", QStringLiteral("/hotwords/%20a")) + m_server.requestCount("DELETE", QStringLiteral("/hotwords/zzz")), 0);
        COMPARE_QUEUE(Ops{});

        // A word the server does not have counts as deleted: back to ok, nothing queued.
        QVERIFY(fail("POST", QStringLiteral("/hotwords"), 400));
        store.add(QStringLiteral("rejected"));
        QVERIFY(settle());
        QCOMPARE(store.syncStatus(), Status::offline);
        store.remove(QStringLiteral("rejected"));
        QVERIFY(settle());
        QCOMPARE(m_server.requestCount("DELETE", QStringLiteral("/hotwords/rejected")), 1);
        QCOMPARE(store.syncStatus(), Status::ok);
        COMPARE_QUEUE(Ops{});
    }

    void failuresAreClassified_data()
    {
        QTest::addColumn<QByteArray>("method");
        QTest::addColumn<int>("status"); // 0: the request stalls until the session gives up
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<Status>("expected");
        QTest::addColumn<bool>("kept");
        QTest::newRow("add 401") << QByteArray("POST") << 401 << QByteArray("expired") << Status::unauthorized << true;
        QTest::newRow("add 404") << QByteArray("POST") << 404 << QByteArray() << Status::offline << true;
        QTest::newRow("add 405") << QByteArray("POST") << 405 << QByteArray() << Status::offline << true;
        QTest::newRow("add 418") << QByteArray("POST") << 418 << QByteArray() << Status::offline << true;
        QTest::newRow("add 429") << QByteArray("POST") << 429 << QByteArray() << Status::offline << true;
        QTest::newRow("add 500") << QByteArray("POST") << 500 << QByteArray() << Status::offline << true;
        QTest::newRow("add 400") << QByteArray("POST") << 400 << QByteArray() << Status::offline << false;
        QTest::newRow("add 403") << QByteArray("POST") << 403 << QByteArray() << Status::offline << false;
        // No proxy is used, so a 407 is the server's answer, a 4xx like 403.
        QTest::newRow("add 407") << QByteArray("POST") << 407 << QByteArray() << Status::offline << false;
        QTest::newRow("add 204") << QByteArray("POST") << 204 << QByteArray() << Status::offline << false;
        QTest::newRow("add decode") << QByteArray("POST") << 201 << QByteArray(R"({"stored":true})") << Status::offline << false;
        QTest::newRow("add network") << QByteArray("POST") << 0 << QByteArray() << Status::offline << true;
        QTest::newRow("delete 401") << QByteArray("DELETE") << 401 << QByteArray() << Status::unauthorized << true;
        QTest::newRow("delete 403") << QByteArray("DELETE") << 403 << QByteArray() << Status::offline << false;
        QTest::newRow("delete 200") << QByteArray("DELETE") << 200 << QByteArray() << Status::offline << false;
        QTest::newRow("delete network") << QByteArray("DELETE") << 0 << QByteArray() << Status::offline << true;
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
        const QString path = isAdd ? QStringLiteral("/hotwords") : QStringLiteral("/hotwords/w");
        const PendingOp op = isAdd ? addOp("w") : deleteOp("w");
        auto provoke = [&] { return status == 0 ? stall(method, path) : fail(method, path, status, 1, 0, body); };

        // The immediate call of an edit.
        preload(isAdd ? QStringList() : QStringList{QStringLiteral("w")});
        HotWordsStore &store = makeStore();
        QVERIFY(provoke());
        if (isAdd)
            store.add(QStringLiteral("w"));
        else
            store.remove(QStringLiteral("w"));
        QVERIFY(settle());
        QCOMPARE(store.syncStatus(), expected);
        COMPARE_QUEUE(kept ? Ops{op} : Ops{});
        QCOMPARE(store.words(), isAdd ? QStringList{QStringLiteral("w")} : QStringList());

        // A replay of the queued op, next to one that goes through.
        QVERIFY(m_server.setHotWords(alice, {QStringLiteral("w")}));
        m_store.reset();
        m_settings->setValue(QLatin1String(HotWordsStore::pendingKey), PendingOp::encode({op, addOp("ok")}));
        makeStore();
        QVERIFY(provoke());
        const std::shared_ptr<bool> flushed = started(m_store->flushPending());
        QTRY_VERIFY_WITH_TIMEOUT(*flushed, 30000);
        QCOMPARE(m_store->syncStatus(), Status::ok); // the last op went through
        COMPARE_QUEUE(kept ? Ops{op} : Ops{});
    }

    // Not signed in, edits stay local and queued, in their exact stored form, until a sync
    // signed in again delivers them.
    void notSignedInQueuesInTheStoredForm()
    {
        TokenStore::setAccessToken(std::nullopt);
        preload({QStringLiteral("语音")});
        HotWordsStore &store = makeStore();
        store.add(QStringLiteral("热词"));
        store.remove(QStringLiteral("语音"));
        QVERIFY(settle());
        QCOMPARE(store.syncStatus(), Status::noToken);
        const QVariant stored = m_settings->value(QLatin1String(HotWordsStore::pendingKey));
        QCOMPARE(stored.typeId(), int(QMetaType::QByteArray));
        QCOMPARE(stored.toByteArray(), QByteArray(R"([{"add":{"_0":"热词"}},{"delete":{"_0":"语音"}}])"));
        COMPARE_QUEUE((Ops{addOp("热词"), deleteOp("语音")}));

        const QString quoted = QStringLiteral("a/b \"q\"");
        store.add(quoted);
        QVERIFY(sync()); // kept by the flush, no upload, and the fetch says why
        QCOMPARE(store.syncStatus(), Status::noToken);
        QCOMPARE(storedQueue(), QByteArray("[{\"add\":{\"_0\":\"热词\"}},{\"delete\":{\"_0\":\"语音\"}},{\"add\":{\"_0\":\"a/b \\\"q\\\"\"}}]"));
        QCOMPARE(store.words(), (QStringList{QStringLiteral("热词"), quoted}));
        QCOMPARE(posts(), 0);
        QCOMPARE(m_server.requestCount("GET", QStringLiteral("/hotwords")), 0);

        // Signed in again, the next sync delivers the queue; an emptied queue is stored as [].
        signIn();
        QVERIFY(sync());
        QCOMPARE(store.syncStatus(), Status::ok);
        COMPARE_QUEUE(Ops{});
        QCOMPARE(storedQueue(), QByteArray("[]"));
        QCOMPARE(m_server.hotWords(alice), (QStringList{QStringLiteral("热词"), quoted}));
        QCOMPARE(store.words(), m_server.hotWords(alice));
    }

    void offlineSyncsQueueEachWordOnce()
    {
        const QStringList local{QStringLiteral("a"), QStringLiteral("b"), QStringLiteral("c")};
        preload(local);
        HotWordsStore &store = makeStore();
        QVERIFY(fail("POST", QStringLiteral("/hotwords"), 503, -1));
        QVERIFY(fail("GET", QStringLiteral("/hotwords"), 503, -1));

        QVERIFY(sync());
        QCOMPARE(store.syncStatus(), Status::offline);
        COMPARE_QUEUE((Ops{addOp("a"), addOp("b"), addOp("c")}));
        QCOMPARE(posts(), 3);

        // Again: the three are replayed and kept, the upload tries each word once more, and an add
        // already waiting is not queued a second time.
        QVERIFY(sync());
        QCOMPARE(store.syncStatus(), Status::offline);
        COMPARE_QUEUE((Ops{addOp("a"), addOp("b"), addOp("c")}));
        QCOMPARE(posts(), 3 + 6);
        QCOMPARE(store.words(), local);

        // A delete queued behind them makes a later add of the same word count again.
        QVERIFY(fail("DELETE", QStringLiteral("/hotwords/b"), 503));
        store.remove(QStringLiteral("b"));
        QVERIFY(settle());
        store.add(QStringLiteral("b"));
        QVERIFY(settle());
        COMPARE_QUEUE((Ops{addOp("a"), addOp("b"), addOp("c"), deleteOp("b"), addOp("b")}));

        // Back online, the next flush (as when a dictation connects) delivers the edits in order.
        QVERIFY(m_server.reset());
        QSignalSpy countChanged(&store, &HotWordsStore::pendingOpsCountChanged);
        static_cast<HotWordsSource &>(store).scheduleFlush();
        QTRY_COMPARE_WITH_TIMEOUT(store.pendingOpsCount(), 0, 30000);
        QVERIFY(settle());
        COMPARE_QUEUE(Ops{});
        QCOMPARE(countChanged.size(), 1);
        QCOMPARE(store.syncStatus(), Status::ok);
        QCOMPARE(m_server.hotWords(alice), (QStringList{QStringLiteral("a"), QStringLiteral("c"), QStringLiteral("b")}));
        QCOMPARE(static_cast<HotWordsSource &>(store).words(), (QStringList{QStringLiteral("a"), QStringLiteral("c"), QStringLiteral("b")}));
    }

    void fetchReplacesTheLocalList()
    {
        QVERIFY(m_server.setHotWords(alice, {QStringLiteral("s"), QStringLiteral("t"), QStringLiteral("s")}));
        preload({QStringLiteral("x")}, PendingOp::encode({addOp("z")}));
        HotWordsStore &store = makeStore();
        QCOMPARE(store.pendingOpsCount(), 1);
        QVERIFY(fail("POST", QStringLiteral("/hotwords"), 503, -1));
        QVERIFY(sync());
        // Exactly the server's list, duplicates and all, although x and z are still queued.
        QCOMPARE(store.words(), (QStringList{QStringLiteral("s"), QStringLiteral("t"), QStringLiteral("s")}));
        QCOMPARE(storedWords(), store.words());
        QCOMPARE(store.syncStatus(), Status::ok);
        COMPARE_QUEUE((Ops{addOp("z"), addOp("x")}));

        // A failed fetch leaves the list alone.
        QVERIFY(fail("GET", QStringLiteral("/hotwords"), 401));
        QVERIFY(sync());
        QCOMPARE(store.syncStatus(), Status::unauthorized);
        QCOMPARE(store.words().size(), 3);
        COMPARE_QUEUE((Ops{addOp("z"), addOp("x"), addOp("s"), addOp("t")}));
    }

    // Edits made while passes wait on the server stay queued behind what the passes deal with.
    void twoSyncsTogether()
    {
        QVERIFY(m_server.setHotWords(alice, {QStringLiteral("b"), QStringLiteral("c")}));
        preload({QStringLiteral("a"), QStringLiteral("c")}, PendingOp::encode({addOp("a"), deleteOp("b")}));
        HotWordsStore &store = makeStore();
        QVERIFY(fail("POST", QStringLiteral("/hotwords"), 0, 2, 500));
        QVERIFY(fail("DELETE", QStringLiteral("/hotwords/c"), 503));
        QSignalSpy syncing(&store, &HotWordsStore::isSyncingChanged);

        const std::shared_ptr<bool> first = started(store.sync());
        const std::shared_ptr<bool> second = started(store.sync());
        QVERIFY(store.isSyncing());
        store.remove(QStringLiteral("c"));
        QTRY_VERIFY_WITH_TIMEOUT(*first && *second, 30000);
        QVERIFY(settle());
        QCOMPARE(syncing.size(), 2); // on once, off once
        QVERIFY(!store.isSyncing());

        COMPARE_QUEUE(Ops{deleteOp("c")});
        QCOMPARE(m_server.hotWords(alice), (QStringList{QStringLiteral("c"), QStringLiteral("a")}));
        flushDelivers({QStringLiteral("a")});
    }

    void flushOverlappingASync()
    {
        QVERIFY(m_server.setHotWords(alice, {QStringLiteral("n")}));
        preload({QStringLiteral("n")}, PendingOp::encode({addOp("a"), deleteOp("gone")}));
        HotWordsStore &store = makeStore();
        QVERIFY(fail("POST", QStringLiteral("/hotwords"), 0, 2, 400));
        QVERIFY(fail("DELETE", QStringLiteral("/hotwords/n"), 503));
        const std::shared_ptr<bool> done = started(store.sync());
        store.scheduleFlush();
        store.remove(QStringLiteral("n"));
        QTRY_VERIFY_WITH_TIMEOUT(*done, 30000);
        QVERIFY(settle());

        // Both passes sent what was queued when each began; the delete queued meanwhile is still
        // there, and nothing the passes dealt with came back.
        QCOMPARE(posts(), 2);
        QCOMPARE(m_server.requestCount("DELETE", QStringLiteral("/hotwords/gone")), 2);
        COMPARE_QUEUE(Ops{deleteOp("n")});
        QCOMPARE(m_server.hotWords(alice), (QStringList{QStringLiteral("n"), QStringLiteral("a")}));

        flushDelivers({QStringLiteral("a")});
    }

    // What the next launch reads back from the file (written by the store at each change): the
    // words, a comma in one of them included, and the queue.
    void storedStateSurvivesARelaunch()
    {
        TokenStore::setAccessToken(std::nullopt);
        // A launch reads a file nobody has loaded: a copy, so nothing this process holds counts.
        auto relaunch = [this, launches = 0]() mutable {
            m_store.reset();
            const QString next = m_dir->filePath(QStringLiteral("launch-%1.conf").arg(++launches));
            QVERIFY(QFile::copy(m_settings->fileName(), next));
            m_settings = std::make_unique<QSettings>(next, QSettings::IniFormat);
            makeStore();
        };
        makeStore().add(QStringLiteral("a, b"));
        QVERIFY(settle());
        relaunch();
        QCOMPARE(m_store->words(), QStringList{QStringLiteral("a, b")});
        COMPARE_QUEUE(Ops{addOp("a, b")});

        m_store->add(QStringLiteral("热词"));
        m_store->remove(QStringLiteral("a, b"));
        QVERIFY(settle());
        relaunch();
        QCOMPARE(m_store->words(), QStringList{QStringLiteral("热词")});
        COMPARE_QUEUE((Ops{addOp("a, b"), addOp("热词"), deleteOp("a, b")}));
    }

    void malformedStoredDataIsIgnoredThenOverwritten_data()
    {
        QTest::addColumn<QVariant>("cache");
        QTest::addColumn<QVariant>("queue");
        QTest::newRow("two keys in one element") << QVariant(QStringList{QStringLiteral("ok")})
                                                 << QVariant(QByteArray(R"([{"add":{"_0":"a"},"delete":{"_0":"b"}}])"));
        QTest::newRow("unknown case") << QVariant() << QVariant(QByteArray(R"([{"add":{"_0":"a"}},{"insert":{"_0":"b"}}])"));
        QTest::newRow("no _0") << QVariant() << QVariant(QByteArray(R"([{"add":{"word":"a"}}])"));
        QTest::newRow("not JSON") << QVariant() << QVariant(QByteArray("add a"));
        QTest::newRow("text instead of bytes") << QVariant() << QVariant(QStringLiteral(R"([{"add":{"_0":"a"}}])"));
        QTest::newRow("list with a number") << QVariant(QVariantList{QStringLiteral("a"), 2}) << QVariant();
        QTest::newRow("cache a number") << QVariant(7) << QVariant();
    }
    void malformedStoredDataIsIgnoredThenOverwritten()
    {
        QFETCH(QVariant, cache);
        QFETCH(QVariant, queue);
        if (cache.isValid())
            m_settings->setValue(QLatin1String(HotWordsStore::cacheKey), cache);
        if (queue.isValid())
            m_settings->setValue(QLatin1String(HotWordsStore::pendingKey), queue);
        TokenStore::setAccessToken(std::nullopt);

        HotWordsStore &store = makeStore();
        const QStringList loaded = cache.typeId() == QMetaType::QStringList ? cache.toStringList() : QStringList();
        QCOMPARE(store.words(), loaded);
        QCOMPARE(store.pendingOpsCount(), 0);
        // Left as it was until the next save.
        QCOMPARE(m_settings->value(QLatin1String(HotWordsStore::pendingKey)), queue);
        QCOMPARE(m_settings->value(QLatin1String(HotWordsStore::cacheKey)), cache);

        store.add(QStringLiteral("w"));
        QVERIFY(settle());
        QCOMPARE(storedWords(), loaded + QStringList{QStringLiteral("w")});
        QCOMPARE(storedQueue(), QByteArray(R"([{"add":{"_0":"w"}}])"));
        COMPARE_QUEUE(Ops{addOp("w")});
    }

    void storeGoneWhileCallsRun()
    {
        HotWordsStore &store = makeStore();
        QVERIFY(stall("POST", QStringLiteral("/hotwords"), -1));
        store.add(QStringLiteral("w"));
        const std::shared_ptr<bool> done = started(store.sync());
        QTRY_COMPARE(posts(), 2);
        m_store.reset();
        // The calls finish (the session gives up) with nobody left to tell.
        QVERIFY(settle());
        QVERIFY(*done);
        // And a store whose client goes first.
        makeStore();
        QVERIFY(stall("GET", QStringLiteral("/hotwords")));
        const std::shared_ptr<bool> syncing = started(m_store->sync());
        QTRY_COMPARE(m_server.requestCount("GET", QStringLiteral("/hotwords")), 1);
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
