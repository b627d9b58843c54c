#pragma once

#include "ControlApi.h"
#include "FaultPlan.h"
#include "RestApi.h"

#include <QAbstractHttpServer>
#include <QHash>
#include <QPair>
#include <QPointer>

class BackendState;
class QTcpSocket;

// The HTTP side of the stand-in: takes every request itself (no router, so paths arrive still
// percent-encoded), counts it, applies REST faults, and hands it to RestApi or, for loopback peers,
// ControlApi. Upgrades on /ws become VoiceSessions.
class BackendServer : public QAbstractHttpServer
{
    Q_OBJECT
public:
    explicit BackendServer(BackendState &state, QObject *parent = nullptr);

    static constexpr qsizetype kMaxBodyBytes = 1024 * 1024;

protected:
    bool handleRequest(const QHttpServerRequest &request, QTcpSocket *socket) override;
    void missingHandler(const QHttpServerRequest &request, QTcpSocket *socket) override;

private:
    void handleUpgrade(const QHttpServerRequest &request, QTcpSocket *socket);
    void acceptWebSockets();
    void reply(const QHttpServerRequest &request, QTcpSocket *socket, const HttpReply &reply);
    static void writeLater(QTcpSocket *socket, const HttpReply &reply, int delayMs);

    BackendState &m_state;
    RestApi m_rest;
    ControlApi m_control;
    // Faults chosen when an upgrade request arrived, until its WebSocket shows up (keyed by peer).
    QHash<QPair<QString, quint16>, QList<SocketFault>> m_faultsByPeer;
    // The connection under each of those upgrades (a raw close frame is written to it).
    QHash<QPair<QString, quint16>, QPointer<QTcpSocket>> m_transportByPeer;
};
