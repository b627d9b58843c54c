#include "RecordingNetworkAccess.h"

RecordingNetworkAccess::RecordingNetworkAccess(quint16 port, QList<QSslCertificate> trusted, QObject *parent)
    : RecordingNetworkAccess(port, std::move(trusted), std::make_shared<QList<Sent>>(), parent)
{
}

RecordingNetworkAccess::RecordingNetworkAccess(quint16 port, QList<QSslCertificate> trusted, std::shared_ptr<QList<Sent>> sent,
                                               QObject *parent)
    : RedirectingNetworkAccess(port, trusted, parent)
    , m_port(port)
    , m_trusted(std::move(trusted))
    , m_sent(std::move(sent))
{
}

NetworkAccess *RecordingNetworkAccess::createSession(QObject *parent) const
{
    auto *session = new RecordingNetworkAccess(m_port, m_trusted, m_sent, parent);
    m_lastSession = session;
    return session;
}

void RecordingNetworkAccess::clear()
{
    m_sent->clear();
    clearRequestedUrls();
}

QNetworkReply *RecordingNetworkAccess::createRequest(Operation op, const QNetworkRequest &request, QIODevice *outgoingData)
{
    m_sent->append({request, outgoingData ? outgoingData->peek(outgoingData->size()) : QByteArray()});
    return RedirectingNetworkAccess::createRequest(op, request, outgoingData);
}
