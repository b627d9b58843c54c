#pragma once

#include "RedirectingNetworkAccess.h"

#include <QNetworkRequest>
#include <QPointer>

#include <memory>

// The redirecting test transport that also keeps every request as the client built it (URL,
// headers, timeout) with the body it sent. The sessions it creates record into the same list.
class RecordingNetworkAccess : public RedirectingNetworkAccess {
    Q_OBJECT
public:
    struct Sent {
        QNetworkRequest request;
        QByteArray body;
    };

    RecordingNetworkAccess(quint16 port, QList<QSslCertificate> trusted, QObject *parent = nullptr);

    NetworkAccess *createSession(QObject *parent) const override;

    QList<Sent> sent() const { return *m_sent; }
    void clear();
    // The session created last, while it exists.
    NetworkAccess *lastSession() const { return m_lastSession; }

protected:
    QNetworkReply *createRequest(Operation op, const QNetworkRequest &request, QIODevice *outgoingData) override;

private:
    RecordingNetworkAccess(quint16 port, QList<QSslCertificate> trusted, std::shared_ptr<QList<Sent>> sent, QObject *parent);

    quint16 m_port;
    QList<QSslCertificate> m_trusted;
    std::shared_ptr<QList<Sent>> m_sent;
    mutable QPointer<NetworkAccess> m_lastSession;
};
