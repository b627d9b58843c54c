#include "DesktopPortal.h"

#include "HelperProcess.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QTest>

namespace {
const QString backendName = QStringLiteral("org.freedesktop.impl.portal.desktop.murlextest");
const QString backendPath = QStringLiteral("/org/freedesktop/portal/desktop");
const QString controlInterface = QStringLiteral("org.murlex.test.PortalBackend");
const QString portalName = QStringLiteral("org.freedesktop.portal.Desktop");
// The desktop the portal file is for, and the portal's environment names.
const QString desktop = QStringLiteral("murlextest");
constexpr int startTimeoutMs = 15000;

QDBusMessage controlCall(const QString &name, const QString &method, const QVariantList &arguments = {})
{
    QDBusMessage call = QDBusMessage::createMethodCall(name, backendPath, controlInterface, method);
    call.setArguments(arguments);
    return QDBusConnection::sessionBus().call(call, QDBus::Block, 5000);
}
} // namespace

void DesktopPortal::startMock(QProcess &process, const QString &script, const QJsonObject &parameters)
{
    QStringList arguments{QStringLiteral("-m"), QStringLiteral("dbusmock"), QStringLiteral("--session"), QStringLiteral("--template"),
                          QStringLiteral(MURLEX_SOURCE_DIR "/tests/support/") + script};
    if (!parameters.isEmpty())
        arguments << QStringLiteral("--parameters") << QString::fromUtf8(QJsonDocument(parameters).toJson(QJsonDocument::Compact));
    // The templates share portal_mock.py beside them.
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("PYTHONPATH"), QStringLiteral(MURLEX_SOURCE_DIR "/tests/support"));
    process.setProcessEnvironment(environment);
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(QStringLiteral("/usr/bin/python3"), arguments);
}

bool DesktopPortal::waitForName(const QString &name, QProcess &process)
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

bool DesktopPortal::start(const QString &interface, const QString &backendScript, const QJsonObject &parameters)
{
    if (!m_dir.isValid() || !QDir().mkpath(m_dir.filePath(QStringLiteral("portals")))) {
        m_failure = QStringLiteral("no temporary directory");
        return false;
    }
    // Nobody may have started the system's portal on this bus before: it would serve without our backend.
    if (QDBusConnection::sessionBus().interface()->isServiceRegistered(portalName)) {
        m_failure = QStringLiteral("a desktop portal already runs on this bus");
        return false;
    }
    m_controlName = interface.isEmpty() ? portalName : backendName;
    if (interface.isEmpty() && !backendScript.isEmpty()) {
        startMock(m_portal, backendScript, parameters);
        return waitForName(portalName, m_portal);
    }
    if (!interface.isEmpty()) {
        QFile portalFile(m_dir.filePath(QStringLiteral("portals/murlextest.portal")));
        const QByteArray entry = QStringLiteral("[portal]\nDBusName=%1\nInterfaces=org.freedesktop.impl.portal.%2;\nUseIn=%3\n")
                                     .arg(backendName, interface, desktop)
                                     .toUtf8();
        if (!portalFile.open(QIODevice::WriteOnly) || portalFile.write(entry) < 0) {
            m_failure = QStringLiteral("cannot write the portal file");
            return false;
        }
        portalFile.close();
        startMock(m_backend, backendScript, parameters);
        if (!waitForName(backendName, m_backend))
            return false;
    }

    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("XDG_DESKTOP_PORTAL_DIR"), m_dir.filePath(QStringLiteral("portals")));
    environment.insert(QStringLiteral("XDG_CURRENT_DESKTOP"), desktop);
    m_portal.setProcessEnvironment(environment);
    m_portal.setProcessChannelMode(QProcess::MergedChannels);
    m_portal.start(QStringLiteral("/usr/libexec/xdg-desktop-portal"), {QStringLiteral("--verbose")});
    return waitForName(portalName, m_portal);
}

void DesktopPortal::stop()
{
    HelperProcess::stop(m_portal);
    HelperProcess::stop(m_backend);
}

QString DesktopPortal::output()
{
    m_output += QString::fromUtf8(m_portal.readAll()) + QString::fromUtf8(m_backend.readAll());
    return m_output;
}

QJsonArray DesktopPortal::calls(const QString &method) const
{
    const QDBusMessage reply = controlCall(m_controlName, QStringLiteral("Calls"));
    QJsonArray matching;
    if (reply.type() != QDBusMessage::ReplyMessage)
        return matching;
    for (const QJsonValue &call : QJsonDocument::fromJson(reply.arguments().value(0).toString().toUtf8()).array())
        if (method.isEmpty() || call.toObject().value(QStringLiteral("method")).toString() == method)
            matching.append(call);
    return matching;
}

bool DesktopPortal::control(const QString &method, const QVariantList &arguments) const
{
    return controlCall(m_controlName, method, arguments).type() == QDBusMessage::ReplyMessage;
}
