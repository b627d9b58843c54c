#pragma once

#include "net/HotWordsAPI.h"
#include "store/HotWordsSettings.h"
#include "store/HotWordsSource.h"
#include "store/PendingOp.h"

#include <QCoro/QCoroTask>
#include <QList>
#include <QObject>
#include <QStringList>

#include <memory>

class QSettings;

// The user's hot words on this machine: the list (cached in the settings so it is there offline
// and at once after launch), a persistent queue of changes that have not reached the server yet,
// and the outcome of the latest server exchange. Every edit is applied and saved locally first,
// then sent; a change the server could not take for a passing reason (offline, signed out,
// expired sign-in) is queued and replayed by the next flush or sync.
//
// Main thread only. Server calls are asynchronous and the store is re-entered between them, so
// several flows (edits, syncs, flushes) may interleave; none of them loses a queued change.
class HotWordsStore : public QObject, public HotWordsSource {
    Q_OBJECT
    Q_PROPERTY(QStringList words READ words NOTIFY wordsChanged)
    Q_PROPERTY(int pendingOpsCount READ pendingOpsCount NOTIFY pendingOpsCountChanged)
    Q_PROPERTY(SyncStatus syncStatus READ syncStatus NOTIFY syncStatusChanged)
    Q_PROPERTY(bool isSyncing READ isSyncing NOTIFY isSyncingChanged)
public:
    enum class SyncStatus { ok, noToken, unauthorized, offline };
    Q_ENUM(SyncStatus)

    static constexpr const char *cacheKey = HotWordsSettings::cacheKey;
    static constexpr const char *pendingKey = HotWordsSettings::pendingKey;

    // Loads the cached list and the queue from `settings`. Neither `api` nor `settings` is owned;
    // both must outlive every call. Calls still running when the store is destroyed end quietly.
    HotWordsStore(HotWordsAPI &api, QSettings &settings, QObject *parent = nullptr);
    // The application's store: over a HotWordsAPIClient of its own (sending the stored access
    // token), which goes with it. `settings` must outlive it.
    static std::unique_ptr<HotWordsStore> create(QSettings &settings);

    // The hot words in display order.
    QStringList words() const override;
    // Always the length of the queue.
    int pendingOpsCount() const;
    // The outcome of the server exchange that finished last.
    SyncStatus syncStatus() const;
    // True while at least one sync() runs.
    bool isSyncing() const;
    // The queue, oldest first.
    QList<PendingOp> pendingOps() const;

    // Adds the text without surrounding white space, unless that is empty or already listed
    // (exact text), then tells the server in the background.
    void add(const QString &text);
    // Removes the first word equal to the text exactly as given, then tells the server in the
    // background (a word the server no longer has counts as deleted).
    void remove(const QString &text);

    // Replays the queue, uploads the local words (when signed in), then takes the server's list.
    QCoro::Task<> sync();
    // The first of those steps alone, in the background; returns at once.
    void scheduleFlush() override;
    // Sends every queued op once, oldest first. Ops that reached the server or that it will never
    // take leave the queue; the rest stay, and ops queued meanwhile stay after them.
    QCoro::Task<> flushPending();

Q_SIGNALS:
    void wordsChanged();
    void pendingOpsCountChanged();
    void syncStatusChanged();
    void isSyncingChanged();

private:
    // A queued op with an identity of its own, so that overlapping flushes and edits made while a
    // flush waits on the server can tell exactly which entries a flush has dealt with.
    struct QueuedOp {
        quint64 id;
        PendingOp op;
    };
    // What a failed call means: the status to show (none: leave it) and whether the op waits for
    // another attempt.
    struct Verdict {
        std::optional<SyncStatus> status;
        bool keep;
    };
    static Verdict classify(const HotWordsFailure &failure);
    static bool isHttpStatus(const HotWordsFailure &failure, int status);

    QCoro::Task<> addOnServer(QString word);
    QCoro::Task<> deleteOnServer(QString word);
    QCoro::Task<> uploadLocalWords();
    QCoro::Task<> refreshFromServer();
    // Sends one queued op; true when it is dealt with (reached the server, or dropped).
    QCoro::Task<bool> replay(PendingOp op);

    void handleFailure(const HotWordsFailure &failure, const PendingOp &op);
    void enqueue(const PendingOp &op);

    void setWords(const QStringList &words);
    void setPending(QList<QueuedOp> pending);
    void setSyncStatus(SyncStatus status);
    void setSyncsRunning(int count);

    void loadCache();
    void loadQueue();
    void saveCache();
    void saveQueue();

    HotWordsAPI &m_api;
    QSettings &m_settings;
    QStringList m_words;
    QList<QueuedOp> m_pending;
    quint64 m_nextOpId = 1;
    SyncStatus m_syncStatus = SyncStatus::ok;
    int m_syncsRunning = 0;
};
