#include "MutterSession.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QRegularExpression>

namespace {
constexpr int startTimeoutMs = 30000;
const QString socketName = QStringLiteral("wayland-murlex");
} // namespace

MutterSession::MutterSession()
{
    if (!m_runtime.isValid()) {
        m_failure = QStringLiteral("no runtime directory");
        return;
    }
    QFile::setPermissions(m_runtime.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    if (startBus() && startMutter())
        startKeyboard();
}

bool MutterSession::startKeyboard()
{
    static const char script[] = R"(
import dbus, sys
bus = dbus.SessionBus()
name = 'org.gnome.Mutter.RemoteDesktop'
path = bus.get_object(name, '/org/gnome/Mutter/RemoteDesktop').CreateSession(dbus_interface=name)
session = bus.get_object(name, path)
session.Start(dbus_interface=name + '.Session')
for state in (True, False):
    session.NotifyKeyboardKeycode(dbus.UInt32(42), state, dbus_interface=name + '.Session')
print('keyboard', flush=True)
sys.stdin.read()
)";
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), m_busAddress);
    m_keyboard.setProcessEnvironment(environment);
    m_keyboard.setChildProcessModifier(WaylandCompositor::dieWithParent);
    m_keyboard.start(QStringLiteral("/usr/bin/python3"), {QStringLiteral("-c"), QString::fromLatin1(script)});
    if (m_keyboard.waitForReadyRead(10000) && m_keyboard.readLine().startsWith("keyboard"))
        return true;
    m_failure = QStringLiteral("no keyboard on mutter's seat: ") + QString::fromUtf8(m_keyboard.readAllStandardError());
    return false;
}

MutterSession::~MutterSession()
{
    for (QProcess *process : {&m_keyboard, &m_mutter, &m_bus})
        HelperProcess::stop(*process);
}

bool MutterSession::startBus()
{
    m_bus.setChildProcessModifier(WaylandCompositor::dieWithParent);
    m_bus.start(QStringLiteral("dbus-daemon"),
                {QStringLiteral("--session"), QStringLiteral("--nofork"), QStringLiteral("--nopidfile"),
                 QStringLiteral("--print-address=1"),
                 QStringLiteral("--address=unix:path=%1").arg(m_runtime.filePath(QStringLiteral("bus")))});
    while (!m_bus.canReadLine() && m_bus.waitForReadyRead(startTimeoutMs)) {
    }
    m_busAddress = QString::fromUtf8(m_bus.readLine()).trimmed();
    if (!m_busAddress.isEmpty())
        return true;
    m_failure = QStringLiteral("the private bus did not start: ") + QString::fromUtf8(m_bus.readAllStandardError());
    return false;
}

bool MutterSession::startMutter()
{
    QProcessEnvironment environment = WaylandCompositor::compositorEnvironment(m_runtime.path());
    environment.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), m_busAddress);
    // Settings in memory: nothing of this run reaches a dconf database.
    environment.insert(QStringLiteral("GSETTINGS_BACKEND"), QStringLiteral("memory"));
    m_mutter.setProcessEnvironment(environment);
    m_mutter.setProcessChannelMode(QProcess::MergedChannels);
    m_mutter.setChildProcessModifier(WaylandCompositor::dieWithParent);
    // mutter runs the command in its session (DISPLAY and XAUTHORITY of its XWayland set) and
    // quits when it ends: it prints those and stays while mutter does.
    m_mutter.start(QStringLiteral("mutter"),
                   {QStringLiteral("--headless"), QStringLiteral("--wayland"), QStringLiteral("--virtual-monitor"),
                    QStringLiteral("1024x768"), QStringLiteral("--wayland-display=") + socketName, QStringLiteral("--"),
                    QStringLiteral("sh"), QStringLiteral("-c"),
                    QStringLiteral("echo \"murlex-display=$DISPLAY\"; echo \"murlex-xauthority=$XAUTHORITY\"; "
                                   "while kill -0 $PPID 2>/dev/null; do sleep 1; done")});
    QString output;
    const QRegularExpression printed(QStringLiteral("murlex-display=(\\S+)\n(?:.*\n)*murlex-xauthority=(\\S+)\n"));
    const QDeadlineTimer deadline(startTimeoutMs);
    while (!deadline.hasExpired() && m_mutter.state() != QProcess::NotRunning) {
        m_mutter.waitForReadyRead(100);
        output += QString::fromUtf8(m_mutter.readAll());
        if (const QRegularExpressionMatch match = printed.match(output); match.hasMatch()) {
            m_display = match.captured(1);
            m_xauthority = match.captured(2);
            m_socket = m_runtime.filePath(socketName);
            return true;
        }
    }
    m_failure = QStringLiteral("mutter did not come up:\n") + output;
    return false;
}

QString MutterSession::failure()
{
    return m_failure + QString::fromUtf8(m_mutter.readAll());
}

QProcessEnvironment MutterSession::xwaylandClient() const
{
    QProcessEnvironment environment = WaylandCompositor::nativeClient(m_socket);
    environment.insert(QStringLiteral("XDG_CURRENT_DESKTOP"), QStringLiteral("GNOME"));
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    environment.insert(QStringLiteral("DISPLAY"), m_display);
    environment.insert(QStringLiteral("XAUTHORITY"), m_xauthority);
    return environment;
}
