#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QList>
#include <QString>

#include <optional>

// Misbehaviour the control API asked for, consumed by the requests and connections that follow.

// One REST fault: for the next `remaining` requests whose method matches and whose raw path starts with
// `pathPrefix`, answer `status` with `body` instead of the real handler (status 0: the real answer), after
// `delayMs`, or never when `stall`; `padBytes` spaces follow the answer's body (JSON stays valid).
struct RestFault
{
    QByteArray method;
    QByteArray pathPrefix;
    int status = 0;
    QByteArray body;
    QByteArray contentType;
    int delayMs = 0;
    bool stall = false;
    qint64 padBytes = 0;
    int remaining = 1;  // -1: until reset
};

struct InjectedFrame
{
    bool binary = false;
    QByteArray data;
};

// One socket fault, applied to each of the next `remaining` upgrade requests to /ws. Several faults
// posted before a connection all apply to it.
struct SocketFault
{
    enum class Action { Refuse, Close, DelayFinal, NoFinal, Send };
    enum class When { Connect, Start, Stop };

    Action action = Action::Refuse;
    When when = When::Connect;            // Close and Send
    int closeCode = 1000;                 // Close
    QString closeReason;                  // Close
    std::optional<QByteArray> closePayload; // Close: the frame's payload verbatim instead of code and reason
    int delayMs = 0;                      // DelayFinal
    int stops = 0;                        // DelayFinal: only the first this many stops (0: every one)
    QList<InjectedFrame> frames;          // Send
    int remaining = 1;
};

class FaultPlan
{
public:
    // The largest padding a REST fault may ask for.
    static constexpr qint64 maxPadBytes = qint64(256) * 1024 * 1024;

    // Parse the control API's JSON form; on failure `error` says what is wrong.
    static std::optional<RestFault> parseRestFault(const QJsonObject &json, QString *error);
    static std::optional<SocketFault> parseSocketFault(const QJsonObject &json, QString *error);

    void addRestFault(RestFault fault) { m_rest.append(std::move(fault)); }
    void addSocketFault(SocketFault fault) { m_socket.append(std::move(fault)); }

    // The first REST fault matching the request, counted as used.
    std::optional<RestFault> takeRestFault(const QByteArray &method, const QByteArray &rawPath);
    // Every socket fault that applies to the connection now being opened, each counted as used.
    QList<SocketFault> takeSocketFaults();

    void clear();

private:
    QList<RestFault> m_rest;
    QList<SocketFault> m_socket;
};
