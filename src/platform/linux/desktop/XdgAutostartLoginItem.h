#pragma once

#include "core/AppIdentity.h"
#include "platform/LoginItemService.h"

#include <QString>

// Launch at login through an XDG autostart entry, $XDG_CONFIG_HOME/autostart/<application id>.desktop,
// which the desktop session starts when the user logs in. The entry is ours when its Exec line
// starts this installation's executable (<prefix>/bin/murlex); the user switches it off with
// Hidden=true or X-GNOME-Autostart-enabled=false. An entry of the same name that starts another
// program belongs to someone else and is never removed.
class XdgAutostartLoginItem final : public LoginItemService {
public:
    static constexpr auto entryFileName = AppIdentity::qualified("desktop");

    XdgAutostartLoginItem();
    explicit XdgAutostartLoginItem(Paths paths);

    Status status() override;
    bool isInstallableLocation() override;
    QString installLocation() override { return m_paths.installPrefix; }
    std::optional<QString> registerItem() override;
    std::optional<QString> unregisterItem() override;

    // The executable this installation starts: <prefix>/bin/murlex.
    QString installedExecutable() const;
    QString entryPath() const;

private:
    Paths m_paths;
};
