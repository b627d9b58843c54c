#pragma once

#include <QList>
#include <QTcpServer>
#include <QTcpSocket>

// A loopback peer that accepts connections and never answers (not even the TLS handshake), like a
// server behind a network that swallows everything: a connection to it neither opens nor fails.
class SilentTcpServer : public QTcpServer {
public:
    SilentTcpServer()
    {
        listen(QHostAddress::LocalHost, 0);
        QObject::connect(this, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket *socket = nextPendingConnection())
                m_held.append(socket); // children of the server: held open until it goes
        });
    }

    int acceptedCount() const { return int(m_held.size()); }

private:
    QList<QTcpSocket *> m_held;
};
