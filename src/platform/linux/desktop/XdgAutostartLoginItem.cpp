#include "platform/linux/desktop/XdgAutostartLoginItem.h"

#include "platform/DesktopEntry.h"

#include "BuildConfig.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QSaveFile>
#include <QStandardPaths>

#include <algorithm>

namespace {

QString resolved(const QString &path)
{
    const QString canonical = QFileInfo(path).canonicalFilePath();
    return canonical.isEmpty() ? QDir::cleanPath(path) : canonical;
}

} // namespace

LoginItemService::Paths LoginItemService::Paths::current()
{
    Paths paths;
    paths.executable = QFile::symLinkTarget(QStringLiteral("/proc/self/exe"));
    paths.installPrefix = QDir::cleanPath(QString::fromUtf8(BuildConfig::installPrefix));
    paths.autostartDirectory =
        QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) + QStringLiteral("/autostart");
    return paths;
}

XdgAutostartLoginItem::XdgAutostartLoginItem() : XdgAutostartLoginItem(Paths::current()) {}

XdgAutostartLoginItem::XdgAutostartLoginItem(Paths paths) : m_paths(std::move(paths)) {}

QString XdgAutostartLoginItem::installedExecutable() const
{
    return QDir::cleanPath(m_paths.installPrefix + QStringLiteral("/bin/murlex"));
}

QString XdgAutostartLoginItem::entryPath() const
{
    return QDir(m_paths.autostartDirectory).filePath(QLatin1String(entryFileName));
}

bool XdgAutostartLoginItem::isInstallableLocation()
{
    // The running file itself, resolved, must sit in the prefix's bin directory (the prefix may
    // be reached through links). A link there to a build tree runs the build tree; a link
    // elsewhere to the installed file runs the installed file.
    const QString bin = QFileInfo(m_paths.installPrefix + QStringLiteral("/bin")).canonicalFilePath();
    const QString running = QFileInfo(m_paths.executable).canonicalFilePath();
    return !bin.isEmpty() && running == bin + QStringLiteral("/murlex");
}


LoginItemService::Status XdgAutostartLoginItem::status()
{
    QFile file(entryPath());
    if (!file.exists())
        return Status::notRegistered;
    if (!file.open(QIODevice::ReadOnly))
        return Status::foreign; // nothing we can tell is ours
    const auto values = DesktopEntry::values(file.readAll());
    const QString program = DesktopEntry::programOfExec(values.value(QStringLiteral("Exec")));
    if (program.isEmpty() || resolved(program) != resolved(installedExecutable()))
        return Status::foreign;
    const auto isFalse = [](const QString &value) { return value.compare(QLatin1String("false"), Qt::CaseInsensitive) == 0; };
    const auto isTrue = [](const QString &value) { return value.compare(QLatin1String("true"), Qt::CaseInsensitive) == 0; };
    if (isTrue(values.value(QStringLiteral("Hidden"))) || isFalse(values.value(QStringLiteral("X-GNOME-Autostart-enabled"))))
        return Status::disabled;
    return Status::enabled;
}

std::optional<QString> XdgAutostartLoginItem::registerItem()
{
    const QString executable = installedExecutable();
    if (executable.contains(u'\n') || executable.contains(u'\r'))
        return QStringLiteral("the install path %1 cannot be written into a desktop entry").arg(executable);
    if (!QDir().mkpath(m_paths.autostartDirectory))
        return QStringLiteral("cannot create the directory %1").arg(m_paths.autostartDirectory);

    QString entry;
    entry += QStringLiteral("[Desktop Entry]\n");
    entry += QStringLiteral("Type=Application\n");
    entry += QStringLiteral("Name=Murlex\n");
    entry += QStringLiteral("Comment=登录时启动 Murlex 语音输入\n");
    entry += QStringLiteral("Exec=%1\n").arg(DesktopEntry::execValue(executable));
    entry += QStringLiteral("Icon=quillfen.MurlexMac\n");
    entry += QStringLiteral("Terminal=false\n");
    entry += QStringLiteral("StartupNotify=false\n");
    entry += QStringLiteral("X-GNOME-Autostart-enabled=true\n");

    // Written beside the entry and renamed over it: the session never reads half an entry.
    QSaveFile file(entryPath());
    if (!file.open(QIODevice::WriteOnly))
        return QStringLiteral("cannot write %1: %2").arg(entryPath(), file.errorString());
    const QByteArray bytes = entry.toUtf8();
    if (file.write(bytes) != bytes.size() || !file.commit())
        return QStringLiteral("cannot write %1: %2").arg(entryPath(), file.errorString());
    return std::nullopt;
}

std::optional<QString> XdgAutostartLoginItem::unregisterItem()
{
    switch (status()) {
    case Status::notRegistered:
        return std::nullopt;
    case Status::foreign:
        return QStringLiteral("the autostart entry %1 is not Murlex's own (it does not start %2); it was left alone")
            .arg(entryPath(), installedExecutable());
    case Status::enabled:
    case Status::disabled:
        break;
    }
    QFile file(entryPath());
    if (!file.remove())
        return QStringLiteral("cannot remove %1: %2").arg(entryPath(), file.errorString());
    return std::nullopt;
}
