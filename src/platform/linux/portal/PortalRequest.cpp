#include "platform/linux/portal/PortalRequest.h"

#include "app/AppLogger.h"
#include "platform/linux/portal/PortalNames.h"

#include <QCoreApplication>
#include <QDBusMessage>
#include <QPointer>

#include <qcoro/qcorosignal.h>

#include <atomic>

PortalRequest::PortalRequest(QDBusConnection bus, QObject *parent)
    : QObject(parent)
    , m_bus(std::move(bus))
    , m_token(nextToken(QStringLiteral("murlex")))
    , m_path(objectPath(QLatin1String(PortalNames::requestBase), m_bus.baseService(), m_token))
{
    subscribe(true);
}

PortalRequest::~PortalRequest()
{
    subscribe(false);
}

QString PortalRequest::objectPath(const QString &base, const QString &uniqueName, const QString &token)
{
    QString sender = uniqueName;
    if (sender.startsWith(u':'))
        sender.remove(0, 1);
    sender.replace(u'.', u'_');
    return base + u'/' + sender + u'/' + token;
}

QString PortalRequest::nextToken(const QString &prefix)
{
    static std::atomic<quint64> counter{0};
    return prefix + u'_' + QString::number(QCoreApplication::applicationPid()) + u'_' + QString::number(++counter);
}

void PortalRequest::follow(const QString &path)
{
    if (path == m_path)
        return;
    subscribe(false);
    m_path = path;
    subscribe(true);
}

bool PortalRequest::subscribe(bool on)
{
    const QString service = QLatin1String(PortalNames::service);
    const QString interface = QLatin1String(PortalNames::requestInterface);
    const QString name = QStringLiteral("Response");
    const char *slot = SLOT(onResponse(uint, QVariantMap));
    return on ? m_bus.connect(service, m_path, interface, name, this, slot)
              : m_bus.disconnect(service, m_path, interface, name, this, slot);
}

void PortalRequest::onResponse(uint response, const QVariantMap &results)
{
    if (m_answer)
        return;
    m_answer = Answer{response, results};
    Q_EMIT answered();
}

QCoro::Task<std::optional<PortalRequest::Answer>> PortalRequest::answer(std::chrono::milliseconds timeout)
{
    if (!m_answer) {
        QPointer<PortalRequest> self(this);
        co_await qCoro(this, &PortalRequest::answered, timeout);
        if (!self)
            co_return std::nullopt;
    }
    if (!m_answer) {
        // Withdrawn, so that a dialog the desktop may still show goes away.
        QDBusMessage close = QDBusMessage::createMethodCall(QLatin1String(PortalNames::service), m_path,
                                                            QLatin1String(PortalNames::requestInterface),
                                                            QStringLiteral("Close"));
        m_bus.send(close);
        qCWarning(AppLogger::hotkey, "portal request %s got no answer within %lld ms", qPrintable(m_path),
                  qint64(timeout.count()));
    }
    co_return m_answer;
}
