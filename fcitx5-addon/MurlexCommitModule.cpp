// Murlex's Fcitx5 module: loaded into the Fcitx5 process, it offers one method on Fcitx5's own
// session-bus connection that commits a text to the input context that has the focus. Text
// committed this way arrives in the application exactly as typed through the input method: every
// Unicode character, without the clipboard and without synthesised keys. A module, not an input
// method: whatever input method the user has chosen stays active.
#include "platform/linux/fcitx5/Fcitx5CommitProtocol.h"

#include <fcitx-module/dbus/dbus_public.h>
#include <fcitx-utils/dbus/bus.h>
#include <fcitx-utils/dbus/objectvtable.h>
#include <fcitx-utils/log.h>
#include <fcitx-utils/utf8.h>
#include <fcitx/addonfactory.h>
#include <fcitx/addoninstance.h>
#include <fcitx/addonmanager.h>
#include <fcitx/inputcontext.h>
#include <fcitx/instance.h>

#include <string>

namespace {

class CommitObject : public fcitx::dbus::ObjectVTable<CommitObject> {
public:
    explicit CommitObject(fcitx::Instance *instance) : m_instance(instance) {}

    // True when an input context had the focus and took the text; false when none has it (the
    // focused window does not use the input method, or nothing is focused).
    bool commit(const std::string &text)
    {
        if (!fcitx::utf8::validate(text))
            throw fcitx::dbus::MethodCallError("org.freedesktop.DBus.Error.InvalidArgs", "text is not UTF-8");
        fcitx::InputContext *focused = m_instance->lastFocusedInputContext();
        if (!focused || !focused->hasFocus())
            return false;
        focused->commitString(text);
        return true;
    }

private:
    fcitx::Instance *m_instance;
    FCITX_OBJECT_VTABLE_METHOD(commit, Fcitx5CommitProtocol::commitMethod, "s", "b");
};

class MurlexCommitModule : public fcitx::AddonInstance {
public:
    explicit MurlexCommitModule(fcitx::Instance *instance) : m_object(instance)
    {
        fcitx::AddonInstance *dbusModule = instance->addonManager().addon("dbus", true);
        fcitx::dbus::Bus *bus = dbusModule ? dbusModule->call<fcitx::IDBusModule::bus>() : nullptr;
        if (!bus || !bus->addObjectVTable(Fcitx5CommitProtocol::path, Fcitx5CommitProtocol::interface, m_object))
            FCITX_ERROR() << "Murlex commit module: could not export " << Fcitx5CommitProtocol::path;
    }

private:
    CommitObject m_object;
};

class MurlexCommitModuleFactory : public fcitx::AddonFactory {
public:
    fcitx::AddonInstance *create(fcitx::AddonManager *manager) override
    {
        return new MurlexCommitModule(manager->instance());
    }
};

} // namespace

FCITX_ADDON_FACTORY(MurlexCommitModuleFactory)
