#include "store/HotWordsStore.h"

#include "net/HotWordsAPIClient.h"
#include "store/HotWordsSettings.h"
#include "store/TokenStore.h"

#include <QPointer>
#include <QSet>
#include <QSettings>

HotWordsStore::HotWordsStore(HotWordsAPI &api, QSettings &settings, QObject *parent)
    : QObject(parent)
    , m_api(api)
    , m_settings(settings)
{
    loadCache();
    loadQueue();
}

std::unique_ptr<HotWordsStore> HotWordsStore::create(QSettings &settings)
{
    auto *client = new HotWordsAPIClient;
    auto store = std::make_unique<HotWordsStore>(*client, settings);
    // As a child the client goes after the store's own state has been torn down: calls it ends
    // on its way out then find no store to report to.
    client->setParent(store.get());
    return store;
}

QStringList HotWordsStore::words() const { return m_words; }
int HotWordsStore::pendingOpsCount() const { return int(m_pending.size()); }
HotWordsStore::SyncStatus HotWordsStore::syncStatus() const { return m_syncStatus; }
bool HotWordsStore::isSyncing() const { return m_syncsRunning > 0; }

QList<PendingOp> HotWordsStore::pendingOps() const
{
    QList<PendingOp> ops;
    ops.reserve(m_pending.size());
    for (const QueuedOp &queued : m_pending)
        ops.append(queued.op);
    return ops;
}

// ---- local edits ---------------------------------------------------------------------------

void HotWordsStore::add(const QString &text)
{
    const QString word = text.trimmed();
    if (word.isEmpty() || m_words.contains(word))
        return;
    setWords(m_words + QStringList{word});
    addOnServer(word);
}

void HotWordsStore::remove(const QString &text)
{
    const qsizetype index = m_words.indexOf(text);
    if (index < 0)
        return;
    QStringList words = m_words;
    words.removeAt(index);
    setWords(words);
    deleteOnServer(text);
}

QCoro::Task<> HotWordsStore::addOnServer(QString word)
{
    const QPointer<HotWordsStore> guard(this);
    const Expected<bool, HotWordsFailure> result = co_await m_api.add(word);
    if (!guard)
        co_return;
    if (result)
        setSyncStatus(SyncStatus::ok);
    else
        handleFailure(result.error(), PendingOp::add(word));
}

QCoro::Task<> HotWordsStore::deleteOnServer(QString word)
{
    const QPointer<HotWordsStore> guard(this);
    const Expected<Done, HotWordsFailure> result = co_await m_api.deleteWord(word);
    if (!guard)
        co_return;
    if (result || isHttpStatus(result.error(), 404))
        setSyncStatus(SyncStatus::ok);
    else
        handleFailure(result.error(), PendingOp::remove(word));
}

// ---- failures and the queue ----------------------------------------------------------------

bool HotWordsStore::isHttpStatus(const HotWordsFailure &failure, int status)
{
    const APIError *error = std::get_if<APIError>(&failure);
    return error && error->kind == APIError::Kind::http && error->status == status;
}

HotWordsStore::Verdict HotWordsStore::classify(const HotWordsFailure &failure)
{
    const APIError *error = std::get_if<APIError>(&failure);
    if (!error)
        return {std::nullopt, true};
    switch (error->kind) {
    case APIError::Kind::http: {
        const int status = error->status;
        if (status == 401)
            return {SyncStatus::unauthorized, true};
        // The server may take it later: it is failing, overloaded, or the endpoint is not there yet.
        const bool passing = status >= 500 || status == 408 || status == 429 || status == 404 || status == 405
            || status == 418;
        return {SyncStatus::offline, passing};
    }
    case APIError::Kind::network:
        return {SyncStatus::offline, true};
    case APIError::Kind::noToken:
        return {SyncStatus::noToken, true};
    case APIError::Kind::decode:
        return {SyncStatus::offline, false};
    }
    return {std::nullopt, true};
}

void HotWordsStore::handleFailure(const HotWordsFailure &failure, const PendingOp &op)
{
    const Verdict verdict = classify(failure);
    if (verdict.status)
        setSyncStatus(*verdict.status);
    if (verdict.keep)
        enqueue(op);
}

void HotWordsStore::enqueue(const PendingOp &op)
{
    // An add already waiting for the same word (with no delete of it queued after) would only
    // send the word twice: every failed sync would otherwise queue the whole list again.
    if (op.kind == PendingOp::Kind::add) {
        for (auto queued = m_pending.crbegin(); queued != m_pending.crend(); ++queued) {
            if (queued->op.word != op.word)
                continue;
            if (queued->op.kind == PendingOp::Kind::add)
                return;
            break;
        }
    }
    QList<QueuedOp> pending = m_pending;
    pending.append(QueuedOp{m_nextOpId++, op});
    setPending(std::move(pending));
}

// ---- sync ----------------------------------------------------------------------------------

QCoro::Task<> HotWordsStore::sync()
{
    const QPointer<HotWordsStore> guard(this);
    setSyncsRunning(m_syncsRunning + 1);
    co_await flushPending();
    if (!guard)
        co_return;
    co_await uploadLocalWords();
    if (!guard)
        co_return;
    co_await refreshFromServer();
    if (!guard)
        co_return;
    setSyncsRunning(m_syncsRunning - 1);
}

void HotWordsStore::scheduleFlush()
{
    flushPending();
}

QCoro::Task<bool> HotWordsStore::replay(PendingOp op)
{
    const QPointer<HotWordsStore> guard(this);
    std::optional<HotWordsFailure> failure;
    if (op.kind == PendingOp::Kind::add) {
        const Expected<bool, HotWordsFailure> result = co_await m_api.add(op.word);
        if (!result)
            failure = result.error();
    } else {
        const Expected<Done, HotWordsFailure> result = co_await m_api.deleteWord(op.word);
        if (!result && !isHttpStatus(result.error(), 404))
            failure = result.error();
    }
    if (!guard)
        co_return true;
    if (!failure) {
        setSyncStatus(SyncStatus::ok);
        co_return true;
    }
    const Verdict verdict = classify(*failure);
    if (verdict.status)
        setSyncStatus(*verdict.status);
    co_return !verdict.keep;
}

QCoro::Task<> HotWordsStore::flushPending()
{
    if (m_pending.isEmpty())
        co_return;
    const QPointer<HotWordsStore> guard(this);
    const QList<QueuedOp> snapshot = m_pending;
    QSet<quint64> dealtWith;
    for (const QueuedOp &queued : snapshot) {
        const bool finished = co_await replay(queued.op);
        if (!guard)
            co_return;
        if (finished)
            dealtWith.insert(queued.id);
    }
    // Against the queue as it is now, not the snapshot: kept ops stay in place, and ops queued
    // while this pass waited on the server (or already dealt with by an overlapping pass) are
    // neither lost nor brought back.
    QList<QueuedOp> remaining;
    for (const QueuedOp &queued : std::as_const(m_pending)) {
        if (!dealtWith.contains(queued.id))
            remaining.append(queued);
    }
    setPending(std::move(remaining));
}

QCoro::Task<> HotWordsStore::uploadLocalWords()
{
    if (!TokenStore::accessToken())
        co_return;
    const QPointer<HotWordsStore> guard(this);
    const QStringList snapshot = m_words;
    for (const QString &word : snapshot) {
        co_await addOnServer(word);
        if (!guard)
            co_return;
    }
}

QCoro::Task<> HotWordsStore::refreshFromServer()
{
    const QPointer<HotWordsStore> guard(this);
    const Expected<QStringList, HotWordsFailure> result = co_await m_api.fetch();
    if (!guard)
        co_return;
    if (result) {
        setWords(result.value());
        setSyncStatus(SyncStatus::ok);
        co_return;
    }
    const APIError *error = std::get_if<APIError>(&result.error());
    if (error && error->kind == APIError::Kind::http && error->status == 401)
        setSyncStatus(SyncStatus::unauthorized);
    else if (error && error->kind == APIError::Kind::noToken)
        setSyncStatus(SyncStatus::noToken);
    else
        setSyncStatus(SyncStatus::offline);
}

// ---- state and persistence -----------------------------------------------------------------

void HotWordsStore::setWords(const QStringList &words)
{
    const bool changed = words != m_words;
    m_words = words;
    saveCache();
    if (changed)
        Q_EMIT wordsChanged();
}

void HotWordsStore::setPending(QList<QueuedOp> pending)
{
    const bool countChanged = pending.size() != m_pending.size();
    m_pending = std::move(pending);
    saveQueue();
    if (countChanged)
        Q_EMIT pendingOpsCountChanged();
}

void HotWordsStore::setSyncStatus(SyncStatus status)
{
    if (status == m_syncStatus)
        return;
    m_syncStatus = status;
    Q_EMIT syncStatusChanged();
}

void HotWordsStore::setSyncsRunning(int count)
{
    const bool was = isSyncing();
    m_syncsRunning = count;
    if (isSyncing() != was)
        Q_EMIT isSyncingChanged();
}

void HotWordsStore::loadCache()
{
    if (std::optional<QStringList> words = HotWordsSettings::cachedWords(m_settings))
        m_words = std::move(*words);
}

void HotWordsStore::loadQueue()
{
    const std::optional<QList<PendingOp>> ops = HotWordsSettings::pendingOps(m_settings);
    if (!ops)
        return;
    for (const PendingOp &op : *ops)
        m_pending.append(QueuedOp{m_nextOpId++, op});
}

void HotWordsStore::saveCache()
{
    m_settings.setValue(QLatin1String(cacheKey), m_words);
    m_settings.sync();
}

void HotWordsStore::saveQueue()
{
    m_settings.setValue(QLatin1String(pendingKey), PendingOp::encode(pendingOps()));
    m_settings.sync();
}
