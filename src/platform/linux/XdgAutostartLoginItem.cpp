#include "platform/linux/XdgAutostartLoginItem.h"

#include "BuildConfig.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QSaveFile>
#include <QStandardPaths>

#include <algorithm>

namespace {

// The values of the [Desktop Entry] group, string escapes (\s \n \t \r \\) undone.
QHash<QString, QString> desktopEntryValues(const QByteArray &content)
{
    QHash<QString, QString> values;
    bool inGroup = false;
    for (const QByteArray &rawLine : content.split('\n')) {
        const QString line = QString::fromUtf8(rawLine).trimmed();
        if (line.isEmpty() || line.startsWith(u'#'))
            continue;
        if (line.startsWith(u'[')) {
            inGroup = line == QLatin1String("[Desktop Entry]");
            continue;
        }
        const qsizetype eq = line.indexOf(u'=');
        if (!inGroup || eq <= 0)
            continue;
        const QString key = line.left(eq).trimmed();
        const QString raw = line.mid(eq + 1).trimmed();
        QString value;
        for (qsizetype i = 0; i < raw.size(); ++i) {
            if (raw.at(i) == u'\\' && i + 1 < raw.size()) {
                const QChar next = raw.at(++i);
                value += next == u's' ? QChar(u' ') : next == u'n' ? QChar(u'\n') : next == u't' ? QChar(u'\t')
                       : next == u'r' ? QChar(u'\r') : next;
            } else {
                value += raw.at(i);
            }
        }
        if (!values.contains(key))
            values.insert(key, value);
    }
    return values;
}

QString escapeString(const QString &value)
{
    QString out = value;
    out.replace(u'\\', QLatin1String("\\\\"));
    return out;
}

QString resolved(const QString &path)
{
    const QString canonical = QFileInfo(path).canonicalFilePath();
    return canonical.isEmpty() ? QDir::cleanPath(path) : canonical;
}

} // namespace

XdgAutostartLoginItem::Paths XdgAutostartLoginItem::Paths::current()
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

QString XdgAutostartLoginItem::execValue(const QString &program)
{
    static const QString reserved = QStringLiteral(" \t\n\"'\\><~|&;$*?#()`");
    QString arg = program;
    if (std::any_of(arg.cbegin(), arg.cend(), [](QChar c) { return reserved.contains(c); })) {
        QString quoted = QStringLiteral("\"");
        for (const QChar c : std::as_const(arg)) {
            if (c == u'"' || c == u'`' || c == u'$' || c == u'\\')
                quoted += u'\\';
            quoted += c;
        }
        arg = quoted + u'"';
    }
    arg.replace(u'%', QLatin1String("%%"));
    return escapeString(arg);
}

QString XdgAutostartLoginItem::programOfExec(const QString &exec)
{
    QString program;
    qsizetype i = 0;
    while (i < exec.size() && exec.at(i).isSpace())
        ++i;
    if (i < exec.size() && exec.at(i) == u'"') {
        for (++i; i < exec.size(); ++i) {
            const QChar c = exec.at(i);
            if (c == u'"')
                break;
            if (c == u'\\' && i + 1 < exec.size())
                program += exec.at(++i);
            else
                program += c;
        }
        if (i >= exec.size())
            return {}; // unterminated quote
    } else {
        for (; i < exec.size() && !exec.at(i).isSpace(); ++i)
            program += exec.at(i);
    }
    program.replace(QLatin1String("%%"), QLatin1String("%"));
    return program;
}

LoginItemService::Status XdgAutostartLoginItem::status()
{
    QFile file(entryPath());
    if (!file.exists())
        return Status::notRegistered;
    if (!file.open(QIODevice::ReadOnly))
        return Status::foreign; // nothing we can tell is ours
    const auto values = desktopEntryValues(file.readAll());
    const QString program = programOfExec(values.value(QStringLiteral("Exec")));
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
    entry += QStringLiteral("Exec=%1\n").arg(execValue(executable));
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
