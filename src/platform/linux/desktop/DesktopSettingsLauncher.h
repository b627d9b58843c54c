#pragma once

#include "platform/SystemSettings.h"

#include <QString>
#include <QStringList>

#include <optional>

// Opens the settings tool of the running desktop on the sound input or accessibility page: GNOME's
// control centre, KDE's system settings, or the PulseAudio volume control. The desktop's own
// tool (XDG_CURRENT_DESKTOP) comes first, then any other that is installed (found on PATH).
class DesktopSettingsLauncher final : public SystemSettings {
public:
    struct Command {
        QString program; // as found on PATH
        QStringList arguments;
    };

    void open(Pane pane) override;

    // The command open() would start; none when no tool for the pane is installed.
    static std::optional<Command> commandFor(Pane pane);
};
