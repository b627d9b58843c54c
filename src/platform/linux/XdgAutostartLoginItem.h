#pragma once

#include "platform/LoginItemService.h"

#include <QString>

// Launch at login through an XDG autostart entry, $XDG_CONFIG_HOME/autostart/quillfen.MurlexMac.desktop,
// which the desktop session starts when the user logs in. The entry is ours when its Exec line
// starts this installation's executable (<prefix>/bin/murlex); the user switches it off with
// Hidden=true or X-GNOME-Autostart-enabled=false. An entry of the same name that starts another
// program belongs to someone else and is never removed.
class XdgAutostartLoginItem final : public LoginItemService {
public:
    static constexpr const char *entryFileName = "quillfen.MurlexMac.desktop";

    struct Paths {
        QString executable;         // the running executable, resolved
        QString installPrefix;      // the prefix this build was made for
        QString autostartDirectory; // where the session looks for autostart entries
        // Those of this process: /proc/self/exe, the build's prefix, $XDG_CONFIG_HOME/autostart.
        static Paths current();
    };

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

    // The Exec value for a program path, quoted and escaped as desktop entries require.
    static QString execValue(const QString &program);
    // The program an Exec value starts (its first argument, unquoted); empty when malformed.
    static QString programOfExec(const QString &exec);

private:
    Paths m_paths;
};
