#include "platform/linux/desktop/DesktopSettingsLauncher.h"

#include "app/AppLogger.h"

#include <QProcess>
#include <QStandardPaths>

#include <algorithm>

namespace {

struct Tool {
    const char *desktop; // as XDG_CURRENT_DESKTOP names it; nullptr for a tool of no desktop
    const char *program;
    QStringList arguments;
};

QList<Tool> toolsFor(SystemSettings::Pane pane)
{
    if (pane == SystemSettings::Pane::microphone) {
        return {{"GNOME", "gnome-control-center", {QStringLiteral("sound")}},
                {"KDE", "systemsettings", {QStringLiteral("kcm_pulseaudio")}},
                // Its fourth tab lists the input devices.
                {nullptr, "pavucontrol", {QStringLiteral("--tab=4")}}};
    }
    return {{"GNOME", "gnome-control-center", {QStringLiteral("universal-access")}},
            {"KDE", "systemsettings", {QStringLiteral("kcm_access")}}};
}

const char *paneName(SystemSettings::Pane pane)
{
    return pane == SystemSettings::Pane::microphone ? "microphone" : "accessibility";
}

} // namespace

std::optional<DesktopSettingsLauncher::Command> DesktopSettingsLauncher::commandFor(Pane pane)
{
    const QStringList desktops =
        QString::fromLocal8Bit(qgetenv("XDG_CURRENT_DESKTOP")).toUpper().split(u':', Qt::SkipEmptyParts);
    QList<Tool> tools = toolsFor(pane);
    std::stable_partition(tools.begin(), tools.end(), [&](const Tool &tool) {
        return tool.desktop && desktops.contains(QLatin1String(tool.desktop));
    });
    for (const Tool &tool : std::as_const(tools)) {
        const QString path = QStandardPaths::findExecutable(QLatin1String(tool.program));
        if (!path.isEmpty())
            return Command{path, tool.arguments};
    }
    return std::nullopt;
}

void DesktopSettingsLauncher::open(Pane pane)
{
    const std::optional<Command> command = commandFor(pane);
    if (!command) {
        qCInfo(AppLogger::app, "no settings tool for the %s settings is installed", paneName(pane));
        return;
    }
    if (!QProcess::startDetached(command->program, command->arguments)) {
        qCWarning(AppLogger::app, "could not start %s for the %s settings", qUtf8Printable(command->program),
                  paneName(pane));
        return;
    }
    qCInfo(AppLogger::app, "opened the %s settings with %s", paneName(pane), qUtf8Printable(command->program));
}
