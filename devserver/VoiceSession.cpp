#include "VoiceSession.h"

#include "MonotonicClock.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QLoggingCategory>
#include <QTimer>

#include <algorithm>

Q_LOGGING_CATEGORY(lcSocket, "murlex.devserver.socket")

namespace {

constexpr qint64 kBytesPerSecond = 32000;
constexpr qint64 kPartialEveryBytes = 3200;  // 100 ms of audio
constexpr int kMaxRecordedTextMessages = 1000;

double secondsBetween(std::int64_t fromNs, std::int64_t toNs)
{
    return double(toNs - fromNs) / 1e9;
}

} // namespace

VoiceSession::VoiceSession(std::unique_ptr<QWebSocket> socket, const QString &subject, QList<SocketFault> faults,
                           std::shared_ptr<SocketRecord> record, QPointer<QTcpSocket> transport, QObject *parent)
    : QObject(parent)
    , m_socket(std::move(socket))
    , m_transport(std::move(transport))
    , m_faults(std::move(faults))
    , m_record(std::move(record))
{
    m_socket->setParent(nullptr);
    m_socket->setMaxAllowedIncomingFrameSize(kMaxFrameBytes);
    m_socket->setMaxAllowedIncomingMessageSize(kMaxFrameBytes);
    connect(m_socket.get(), &QWebSocket::textMessageReceived, this, &VoiceSession::onText);
    connect(m_socket.get(), &QWebSocket::binaryMessageReceived, this, &VoiceSession::onBinary);
    connect(m_socket.get(), &QWebSocket::disconnected, this, &VoiceSession::onDisconnected);

    m_record->subject = subject;
    qCInfo(lcSocket) << "connection" << m_record->id << "from port" << m_socket->peerPort()
                     << (subject.isEmpty() ? "with a refused token" : "accepted");
    if (subject.isEmpty()) {
        m_record->rejected = QStringLiteral("invalid token");
        closeWith(1008, QStringLiteral("invalid token"));
        return;
    }
    applyFaults(SocketFault::When::Connect);
}

VoiceSession::~VoiceSession()
{
    if (m_socket)
        m_socket->disconnect(this);
}

void VoiceSession::onText(const QString &text)
{
    if (m_record->textMessages.size() < kMaxRecordedTextMessages)
        m_record->textMessages.append(text);
    if (m_closing)
        return;
    const QJsonDocument document = QJsonDocument::fromJson(text.toUtf8());
    const QString type = document.object().value(QStringLiteral("type")).toString();
    if (type == QLatin1String("start"))
        startDictation(document.object());
    else if (type == QLatin1String("stop"))
        stopDictation();
    else if (!document.isObject() || type.isEmpty())
        sendError(QStringLiteral("malformed message"));
    else
        sendError(QStringLiteral("unknown message type: ") + type);
}

void VoiceSession::onBinary(const QByteArray &data)
{
    if (m_closing)
        return;
    DictationRecord *dictation = currentDictation();
    if (!dictation) {
        ++m_record->framesOutsideDictation;
        return;
    }
    if (dictation->firstFrameNs == 0)
        dictation->firstFrameNs = monotonicNowNs();
    dictation->frameSizes.append(int(data.size()));
    const qint64 before = dictation->bytes;
    dictation->bytes += data.size();
    m_recogniser.feed(data);

    // A "final_sentence" whenever another whole second of audio is complete, otherwise a "partial"
    // for every 100 ms of new audio. Both describe everything received since "start".
    const QString text = m_recogniser.transcript();
    if (dictation->bytes / kBytesPerSecond > before / kBytesPerSecond) {
        sendJson({{QStringLiteral("type"), QStringLiteral("final_sentence")}, {QStringLiteral("text"), text}});
        m_bytesAtLastEvent = dictation->bytes;
    } else if (dictation->bytes - m_bytesAtLastEvent >= kPartialEveryBytes) {
        sendJson({{QStringLiteral("type"), QStringLiteral("partial")}, {QStringLiteral("text"), text}});
        m_bytesAtLastEvent = dictation->bytes;
    }
}

void VoiceSession::startDictation(const QJsonObject &message)
{
    DictationRecord dictation;
    dictation.startNs = monotonicNowNs();
    for (const QJsonValue &word : message.value(QStringLiteral("hotwords")).toArray()) {
        if (word.isString())
            dictation.hotWords.append(word.toString());
    }
    if (currentDictation())
        qCInfo(lcSocket) << "connection" << m_record->id << "start without stop: the previous dictation is dropped";
    m_record->dictations.append(dictation);
    m_dictationIndex = int(m_record->dictations.size()) - 1;
    m_hotWords = dictation.hotWords;
    m_recogniser.reset();
    m_bytesAtLastEvent = 0;
    qCInfo(lcSocket) << "connection" << m_record->id << "start with" << m_hotWords.size() << "hot words";
    applyFaults(SocketFault::When::Start);
}

void VoiceSession::stopDictation()
{
    DictationRecord *dictation = currentDictation();
    if (!dictation) {
        sendError(QStringLiteral("stop without start"));
        return;
    }
    dictation->stopNs = monotonicNowNs();
    dictation->asrText = m_recogniser.transcript();
    dictation->polishText = m_recogniser.polished(m_hotWords);
    const QString asrText = dictation->asrText;
    const QString polishText = dictation->polishText;
    qCInfo(lcSocket).noquote() << "connection" << m_record->id << "stop:" << asrText;
    // Leave the dictation before the faults run: a new "start" may arrive while finals are delayed.
    const int index = std::exchange(m_dictationIndex, -1);

    if (!applyFaults(SocketFault::When::Stop))
        return;
    const int stopNumber = ++m_stops;
    std::int64_t delayNs = 0;
    for (const SocketFault &fault : std::as_const(m_faults)) {
        if (fault.action == SocketFault::Action::NoFinal) {
            qCInfo(lcSocket) << "connection" << m_record->id << "final events withheld (fault)";
            return;
        }
        if (fault.action == SocketFault::Action::DelayFinal && (fault.stops == 0 || stopNumber <= fault.stops))
            delayNs = std::max(delayNs, std::int64_t(fault.delayMs) * 1000000);
    }
    // Stops are answered in the order they came: an answer never overtakes a delayed earlier one.
    const std::int64_t now = monotonicNowNs();
    const std::int64_t dueNs = std::max(now + delayNs, m_lastFinalDueNs);
    m_lastFinalDueNs = dueNs;
    const int delayMs = int((dueNs - now + 999999) / 1000000);
    auto send = [this, index, asrText, polishText] {
        if (m_closing)
            return;
        const std::int64_t stopNs = m_record->dictations[index].stopNs;
        const std::int64_t asrNs = monotonicNowNs();
        m_record->dictations[index].asrDoneNs = asrNs;
        sendJson({{QStringLiteral("type"), QStringLiteral("asr_done")},
                  {QStringLiteral("text"), asrText},
                  {QStringLiteral("asr_time"), secondsBetween(stopNs, asrNs)}});
        const std::int64_t polishNs = monotonicNowNs();
        m_record->dictations[index].polishDoneNs = polishNs;
        sendJson({{QStringLiteral("type"), QStringLiteral("polish_done")},
                  {QStringLiteral("text"), polishText},
                  {QStringLiteral("polish_time"), secondsBetween(asrNs, polishNs)},
                  {QStringLiteral("total_time"), secondsBetween(stopNs, polishNs)}});
    };
    if (delayMs > 0)
        QTimer::singleShot(delayMs, Qt::PreciseTimer, this, send);
    else
        send();
}

bool VoiceSession::applyFaults(SocketFault::When when)
{
    for (const SocketFault &fault : std::as_const(m_faults)) {
        if (fault.when != when)
            continue;
        if (fault.action == SocketFault::Action::Send) {
            for (const InjectedFrame &frame : fault.frames) {
                if (frame.binary)
                    m_socket->sendBinaryMessage(frame.data);
                else
                    m_socket->sendTextMessage(QString::fromUtf8(frame.data));
            }
        } else if (fault.action == SocketFault::Action::Close) {
            if (fault.closePayload)
                closeWithRawPayload(*fault.closePayload);
            else
                closeWith(fault.closeCode, fault.closeReason);
            return false;
        }
    }
    return true;
}

void VoiceSession::sendJson(const QJsonObject &message)
{
    m_socket->sendTextMessage(QString::fromUtf8(QJsonDocument(message).toJson(QJsonDocument::Compact)));
}

void VoiceSession::sendError(const QString &message)
{
    sendJson({{QStringLiteral("type"), QStringLiteral("error")}, {QStringLiteral("message"), message}});
}

void VoiceSession::closeWith(int code, const QString &reason)
{
    qCInfo(lcSocket).noquote() << "connection" << m_record->id << "closing with" << code << reason;
    m_closing = true;
    m_dictationIndex = -1;
    // From the event loop rather than from inside the socket's own signal or the handshake: closing
    // there makes the socket read from an already closed connection.
    QTimer::singleShot(0, this, [this, code, reason] { m_socket->close(QWebSocketProtocol::CloseCode(code), reason); });
}

void VoiceSession::closeWithRawPayload(const QByteArray &payload)
{
    qCInfo(lcSocket).noquote() << "connection" << m_record->id << "closing with the raw payload" << payload.toHex();
    m_closing = true;
    m_dictationIndex = -1;
    QTimer::singleShot(0, this, [this, payload] {
        QTcpSocket *transport = m_transport.data();
        if (!transport) {
            qCWarning(lcSocket) << "connection" << m_record->id << "has no transport to write a raw close frame to";
            m_socket->abort();
            return;
        }
        QByteArray frame;
        frame.append(char(0x88)); // FIN, opcode close
        frame.append(char(payload.size())); // unmasked, at most 125 bytes
        frame.append(payload);
        transport->write(frame);
        transport->flush();
    });
}

DictationRecord *VoiceSession::currentDictation()
{
    return m_dictationIndex >= 0 ? &m_record->dictations[m_dictationIndex] : nullptr;
}

void VoiceSession::onDisconnected()
{
    m_record->closedNs = monotonicNowNs();
    m_record->closeCode = int(m_socket->closeCode());
    m_record->closeReason = m_socket->closeReason();
    qCInfo(lcSocket).noquote() << "connection" << m_record->id << "ended, code" << m_record->closeCode
                               << m_record->closeReason;
    m_dictationIndex = -1;
    m_closing = true;
    deleteLater();
}
