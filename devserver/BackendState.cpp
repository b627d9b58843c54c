#include "BackendState.h"

#include "MonotonicClock.h"

namespace {

QJsonArray toJsonArray(const QStringList &list)
{
    return QJsonArray::fromStringList(list);
}

} // namespace

QJsonObject DictationRecord::toJson() const
{
    QJsonArray sizes;
    for (int size : frameSizes)
        sizes.append(size);
    return {
        {QStringLiteral("hotwords"), toJsonArray(hotWords)},
        {QStringLiteral("start_ns"), qint64(startNs)},
        {QStringLiteral("first_frame_ns"), qint64(firstFrameNs)},
        {QStringLiteral("stop_ns"), qint64(stopNs)},
        {QStringLiteral("asr_done_ns"), qint64(asrDoneNs)},
        {QStringLiteral("polish_done_ns"), qint64(polishDoneNs)},
        {QStringLiteral("frames"), qint64(frameSizes.size())},
        {QStringLiteral("bytes"), bytes},
        {QStringLiteral("frame_sizes"), sizes},
        {QStringLiteral("asr_text"), asrText},
        {QStringLiteral("polish_text"), polishText},
    };
}

QJsonObject SocketRecord::toJson() const
{
    QJsonArray dictationArray;
    for (const DictationRecord &dictation : dictations)
        dictationArray.append(dictation.toJson());
    return {
        {QStringLiteral("id"), id},
        {QStringLiteral("subject"), subject},
        {QStringLiteral("rejected"), rejected},
        {QStringLiteral("opened_ns"), qint64(openedNs)},
        {QStringLiteral("closed_ns"), qint64(closedNs)},
        {QStringLiteral("close_code"), closeCode},
        {QStringLiteral("close_reason"), closeReason},
        {QStringLiteral("text_messages"), toJsonArray(textMessages)},
        {QStringLiteral("frames_outside_dictation"), framesOutsideDictation},
        {QStringLiteral("dictations"), dictationArray},
    };
}

void BackendState::addDiagnostics(const QString &subject, const QJsonObject &payload)
{
    m_diagnostics.append(QJsonObject{
        {QStringLiteral("sub"), subject},
        {QStringLiteral("received_ns"), qint64(monotonicNowNs())},
        {QStringLiteral("body"), payload},
    });
}

void BackendState::countRequest(const QByteArray &method, const QByteArray &rawPath)
{
    ++m_requestCounts[QString::fromLatin1(method + ' ' + rawPath)];
}

QJsonObject BackendState::requestCounts() const
{
    QJsonObject counts;
    for (auto it = m_requestCounts.cbegin(); it != m_requestCounts.cend(); ++it)
        counts.insert(it.key(), it.value());
    return counts;
}

std::shared_ptr<SocketRecord> BackendState::newSocketRecord()
{
    auto record = std::make_shared<SocketRecord>();
    record->id = m_nextSocketId++;
    record->openedNs = monotonicNowNs();
    m_sockets.append(record);
    return record;
}

QJsonArray BackendState::socketRecords() const
{
    QJsonArray array;
    for (const auto &record : m_sockets)
        array.append(record->toJson());
    return array;
}

void BackendState::reset()
{
    m_faults.clear();
    m_identities.clear();
    m_hotWords.clear();
    m_diagnostics = {};
    m_requestCounts.clear();
    m_sockets.clear();
}
