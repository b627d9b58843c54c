#pragma once

#include "BackendState.h"
#include "FaultPlan.h"
#include "Recogniser.h"

#include <QObject>
#include <QPointer>
#include <QTcpSocket>
#include <QWebSocket>

#include <cstdint>
#include <memory>

// The server side of one recognition socket. Serves any number of dictations in turn:
//   client: {"type":"start","hotwords":[...]}, binary PCM frames, {"type":"stop"}
//   server: "partial" / "final_sentence" while audio arrives, then "asr_done" and "polish_done".
// The texts come from Recogniser and describe the audio received since "start". What the client sent
// is written to a SocketRecord for the control API. Deletes itself when the connection ends.
class VoiceSession : public QObject
{
    Q_OBJECT
public:
    // `subject` empty means the token was refused: the session closes with 1008 at once.
    VoiceSession(std::unique_ptr<QWebSocket> socket, const QString &subject, QList<SocketFault> faults,
                 std::shared_ptr<SocketRecord> record, QPointer<QTcpSocket> transport = {},
                 QObject *parent = nullptr);
    ~VoiceSession() override;

    static constexpr int kMaxFrameBytes = 1024 * 1024;

private:
    void onText(const QString &text);
    void onBinary(const QByteArray &data);
    void onDisconnected();

    void startDictation(const QJsonObject &message);
    void stopDictation();

    // Applies the faults planned for this moment; false when the connection was closed by one.
    bool applyFaults(SocketFault::When when);
    void sendJson(const QJsonObject &message);
    void sendError(const QString &message);
    void closeWith(int code, const QString &reason);
    // Writes a close frame with exactly this payload below the WebSocket layer (which would refuse
    // to build an invalid one) and lets the client's answer end the connection.
    void closeWithRawPayload(const QByteArray &payload);
    DictationRecord *currentDictation();

    std::unique_ptr<QWebSocket> m_socket;
    QPointer<QTcpSocket> m_transport; // the connection below m_socket, when known
    QList<SocketFault> m_faults;
    std::shared_ptr<SocketRecord> m_record;
    Recogniser m_recogniser;
    QStringList m_hotWords;
    // The dictation between "start" and "stop": an index into m_record->dictations, or -1.
    int m_dictationIndex = -1;
    qint64 m_bytesAtLastEvent = 0;
    bool m_closing = false;
    int m_stops = 0;                   // "stop" messages answered or being answered
    std::int64_t m_lastFinalDueNs = 0; // when the latest scheduled final events go out
};
