#include "RemoteDesktopPortal.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTest>

namespace {
const QString backendName = QStringLiteral("org.freedesktop.impl.portal.desktop.murlextest");
const QString backendPath = QStringLiteral("/org/freedesktop/portal/desktop");
const QString controlInterface = QStringLiteral("org.murlex.test.PortalBackend");
const QString portalName = QStringLiteral("org.freedesktop.portal.Desktop");
const QString desktop = QStringLiteral("murlextest");
constexpr int startTimeoutMs = 15000;

QDBusMessage control(const QString &method, const QVariantList &arguments = {})
{
    QDBusMessage call = QDBusMessage::createMethodCall(backendName, backendPath, controlInterface, method);
    call.setArguments(arguments);
    return QDBusConnection::sessionBus().call(call, QDBus::Block, 5000);
}
} // namespace

RemoteDesktopPortal::~RemoteDesktopPortal()
{
    for (QProcess *process : {&m_portal, &m_backend}) {
        if (process->state() == QProcess::NotRunning)
            continue;
        process->terminate();
        if (!process->waitForFinished(5000)) {
            process->kill();
            process->waitForFinished(5000);
        }
    }
}

bool RemoteDesktopPortal::waitForName(const QString &name, QProcess &process)
{
    const QDeadlineTimer deadline(startTimeoutMs);
    while (!deadline.hasExpired()) {
        if (QDBusConnection::sessionBus().interface()->isServiceRegistered(name))
            return true;
        if (process.state() == QProcess::NotRunning)
            break;
        QTest::qWait(50);
    }
    m_failure = name + QStringLiteral(" did not come up on the session bus:\n") + output();
    return false;
}

bool RemoteDesktopPortal::start(const QString &mutterBus)
{
    if (!m_dir.isValid() || !QDir().mkpath(m_dir.filePath(QStringLiteral("portals")))) {
        m_failure = QStringLiteral("no temporary directory");
        return false;
    }
    if (QDBusConnection::sessionBus().interface()->isServiceRegistered(portalName)) {
        m_failure = QStringLiteral("a desktop portal already runs on this bus");
        return false;
    }
    QFile portalFile(m_dir.filePath(QStringLiteral("portals/murlextest.portal")));
    const QByteArray entry = QStringLiteral("[portal]\nDBusName=%1\nInterfaces=org.freedesktop.impl.portal.RemoteDesktop;\nUseIn=%2\n")
                                 .arg(backendName, desktop)
                                 .toUtf8();
    if (!portalFile.open(QIODevice::WriteOnly) || portalFile.write(entry) < 0) {
        m_failure = QStringLiteral("cannot write the portal file");
        return false;
    }
    portalFile.close();

    const QJsonObject parameters{{QStringLiteral("mutter_bus"), mutterBus}};
    m_backend.setProcessChannelMode(QProcess::MergedChannels);
    m_backend.start(QStringLiteral("/usr/bin/python3"),
                    {QStringLiteral("-m"), QStringLiteral("dbusmock"), QStringLiteral("--session"), QStringLiteral("--template"),
                     QStringLiteral(MURLEX_SOURCE_DIR "/tests/support/portal_remote_desktop_backend.py"),
                     QStringLiteral("--parameters"), QString::fromUtf8(QJsonDocument(parameters).toJson(QJsonDocument::Compact))});
    if (!waitForName(backendName, m_backend))
        return false;

    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("XDG_DESKTOP_PORTAL_DIR"), m_dir.filePath(QStringLiteral("portals")));
    environment.insert(QStringLiteral("XDG_CURRENT_DESKTOP"), desktop);
    m_portal.setProcessEnvironment(environment);
    m_portal.setProcessChannelMode(QProcess::MergedChannels);
    m_portal.start(QStringLiteral("/usr/libexec/xdg-desktop-portal"), {QStringLiteral("--verbose")});
    return waitForName(portalName, m_portal);
}

QString RemoteDesktopPortal::output()
{
    m_output += QString::fromUtf8(m_portal.readAll()) + QString::fromUtf8(m_backend.readAll());
    return m_output;
}

QJsonArray RemoteDesktopPortal::calls(const QString &method) const
{
    const QDBusMessage reply = control(QStringLiteral("Calls"));
    QJsonArray matching;
    if (reply.type() != QDBusMessage::ReplyMessage)
        return matching;
    for (const QJsonValue &call : QJsonDocument::fromJson(reply.arguments().value(0).toString().toUtf8()).array())
        if (call.toObject().value(QStringLiteral("method")).toString() == method)
            matching.append(call);
    return matching;
}

bool RemoteDesktopPortal::setStartResponse(uint response) const
{
    return control(QStringLiteral("SetStartResponse"), {response}).type() == QDBusMessage::ReplyMessage;
}
