#include "WaylandCompositor.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QLocalSocket>
#include <QRegularExpression>
#include <QThread>

#include <cerrno>
#include <csignal>
#include <pwd.h>
#include <sys/prctl.h>
#include <unistd.h>

namespace {

// The unprivileged user sway runs as when the tests run as root.
const char compositorUser[] = "murlex-wayland";

bool canConnect(const QString &path)
{
    QLocalSocket socket;
    socket.connectToServer(path);
    return socket.waitForConnected(1000);
}

// The user's ids, creating it first when it does not exist yet.
std::optional<std::pair<uid_t, gid_t>> compositorAccount()
{
    if (!getpwnam(compositorUser)) {
        QProcess::execute(QStringLiteral("useradd"), {"--system", "--no-create-home", "--shell", "/usr/sbin/nologin",
                                                      QString::fromLatin1(compositorUser)});
    }
    const passwd *entry = getpwnam(compositorUser);
    if (!entry)
        return std::nullopt;
    return std::make_pair(entry->pw_uid, entry->pw_gid);
}

} // namespace

WaylandCompositor::WaylandCompositor(Kind kind, const QProcessEnvironment &extra)
{
    if (!m_runtime.isValid()) {
        m_failure = QStringLiteral("no runtime directory");
        return;
    }
    QProcessEnvironment environment = compositorEnvironment(m_runtime.path());
    const QString socketName = QStringLiteral("wayland-murlex");
    QString program;
    QStringList arguments;

    if (kind == Kind::sway) {
        const QString config = m_runtime.filePath(QStringLiteral("sway.conf"));
        QFile file(config);
        file.open(QIODevice::WriteOnly);
        // No XWayland, no bar: the suites need the compositor's own protocols and a native field.
        file.write("xwayland disable\n");
        file.close();
        environment.insert(QStringLiteral("WLR_BACKENDS"), QStringLiteral("headless"));
        environment.insert(QStringLiteral("WLR_LIBINPUT_NO_DEVICES"), QStringLiteral("1"));
        environment.insert(QStringLiteral("WLR_RENDERER"), QStringLiteral("pixman"));
        program = QStringLiteral("sway");
        arguments = {QStringLiteral("-c"), config};
        if (geteuid() == 0) {
            const auto account = compositorAccount();
            if (!account) {
                m_failure = QStringLiteral("could not create the user %1").arg(QLatin1String(compositorUser));
                return;
            }
            if (chown(QFile::encodeName(m_runtime.path()).constData(), account->first, account->second) != 0 ||
                chown(QFile::encodeName(config).constData(), account->first, account->second) != 0) {
                m_failure = QStringLiteral("could not hand the runtime directory over: %1").arg(errno);
                return;
            }
            arguments.prepend(program);
            arguments = QStringList{QStringLiteral("--reuid=%1").arg(account->first),
                                    QStringLiteral("--regid=%1").arg(account->second), QStringLiteral("--clear-groups"),
                                    // set after the change of user, which clears an earlier one
                                    QStringLiteral("--pdeathsig=KILL"), QStringLiteral("--")} +
                        arguments;
            program = QStringLiteral("setpriv");
        }
    } else {
        // The installed kwin_wayland carries a file capability (cap_sys_resource), and a process
        // that may not gain capabilities (a container's) cannot run it at all; a copy has none.
        // The copy keeps the name: KWin's own Qt platform plugin loads only in "kwin_wayland".
        QDir(m_runtime.path()).mkdir(QStringLiteral("bin"));
        program = m_runtime.filePath(QStringLiteral("bin/kwin_wayland"));
        if (!QFile::copy(QStringLiteral("/usr/bin/kwin_wayland"), program)) {
            m_failure = QStringLiteral("could not copy kwin_wayland");
            return;
        }
        QFile::setPermissions(program, QFile::ReadOwner | QFile::ExeOwner);
        arguments = {QStringLiteral("--virtual"), QStringLiteral("--no-lockscreen"), QStringLiteral("--socket"),
                     socketName, QStringLiteral("--width"), QStringLiteral("1024"), QStringLiteral("--height"),
                     QStringLiteral("768")};
        // KWin reads desktop entries through KService. It runs without a session bus: with the
        // harness's, its answer to a client its entries name stalls for seconds.
        for (const char *name : {"XDG_DATA_DIRS", "XDG_DATA_HOME"})
            if (qEnvironmentVariableIsSet(name))
                environment.insert(QString::fromLatin1(name), qEnvironmentVariable(name));
    }
    environment.insert(extra);

    m_process.setProcessEnvironment(environment);
    m_process.setChildProcessModifier(dieWithParent);
    m_process.setProcessChannelMode(QProcess::MergedChannels);
    m_process.start(program, arguments);
    if (!m_process.waitForStarted(5000)) {
        m_failure = QStringLiteral("%1 did not start: %2").arg(program, m_process.errorString());
        return;
    }
    // sway names its socket itself (wayland-1, usually); KWin takes the name given.
    if (!waitForSocket(kind == Kind::kwin ? socketName : QString(), 20000)) {
        m_failure = QStringLiteral("%1 opened no socket in %2").arg(program, m_runtime.path());
        return;
    }
}

WaylandCompositor::~WaylandCompositor()
{
    HelperProcess::stop(m_process);
}

QProcessEnvironment WaylandCompositor::compositorEnvironment(const QString &runtime)
{
    QProcessEnvironment environment;
    environment.insert(QStringLiteral("PATH"), qEnvironmentVariable("PATH"));
    environment.insert(QStringLiteral("HOME"), runtime);
    environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime);
    environment.insert(QStringLiteral("XDG_CONFIG_HOME"), runtime + QStringLiteral("/config"));
    environment.insert(QStringLiteral("XDG_CACHE_HOME"), runtime + QStringLiteral("/cache"));
    return environment;
}

void WaylandCompositor::dieWithParent()
{
    prctl(PR_SET_PDEATHSIG, SIGKILL);
}

bool WaylandCompositor::waitForSocket(const QString &name, int timeoutMs)
{
    QDeadlineTimer deadline(timeoutMs);
    while (!deadline.hasExpired() && m_process.state() != QProcess::NotRunning) {
        // Without a name: every socket there, not their lock files.
        const QStringList candidates = !name.isEmpty() ? QStringList{name}
                                                       : QDir(m_runtime.path())
                                                             .entryList({QStringLiteral("wayland-*")}, QDir::System)
                                                             .filter(QRegularExpression(QStringLiteral("^[^.]*$")));
        for (const QString &candidate : std::as_const(candidates)) {
            if (canConnect(m_runtime.filePath(candidate))) {
                m_socket = m_runtime.filePath(candidate);
                return true;
            }
        }
        QThread::msleep(50);
    }
    return false;
}

QString WaylandCompositor::failure() const
{
    auto *process = const_cast<QProcess *>(&m_process);
    return m_failure + QStringLiteral("\n") + QString::fromUtf8(process->readAll());
}

QProcessEnvironment WaylandCompositor::nativeClient(const QString &socket)
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("WAYLAND_DISPLAY"), socket);
    environment.insert(QStringLiteral("XDG_SESSION_TYPE"), QStringLiteral("wayland"));
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("wayland"));
    environment.remove(QStringLiteral("DISPLAY"));
    return environment;
}

void WaylandCompositor::enterSession() const
{
    qputenv("WAYLAND_DISPLAY", QFile::encodeName(m_socket));
    qputenv("XDG_SESSION_TYPE", "wayland");
}
