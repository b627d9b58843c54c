#pragma once

#include <QString>

#include <optional>

// Starting the installed application when the user logs in.
class LoginItemService {
public:
    enum class Status {
        notRegistered, // no entry of ours
        enabled,       // an entry of ours that the session will start
        disabled,      // an entry of ours that the user switched off
        foreign,       // an entry of the same name that starts another program
    };

    struct Paths {
        QString executable;         // the running executable, resolved
        QString installPrefix;      // the prefix this build was made for
        QString autostartDirectory; // where the session looks for autostart entries
        // Those of this process: the running executable, the build's prefix, the user's
        // autostart directory.
        static Paths current();
    };

    virtual ~LoginItemService() = default;

    virtual Status status() = 0;
    // Whether the running executable is the one installed under the prefix this build was made
    // for (only that one may be registered).
    virtual bool isInstallableLocation() = 0;
    // The install prefix this build was made for, as texts for the user name it.
    virtual QString installLocation() = 0;

    // Each answers nothing on success, and a description of the failure otherwise.
    virtual std::optional<QString> registerItem() = 0;
    virtual std::optional<QString> unregisterItem() = 0;
};
