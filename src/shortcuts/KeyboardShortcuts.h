#pragma once

#include "shortcuts/EventStream.h"
#include "shortcuts/EventType.h"
#include "shortcuts/Name.h"
#include "shortcuts/Notifications.h"
#include "shortcuts/Shortcut.h"

#include <QList>

#include <functional>
#include <memory>
#include <optional>

class QAction;
class QMenu;

// User-configurable, system-wide keyboard shortcuts.
//
// A Name's shortcut is stored in the application's settings store: QSettings constructed with the
// application's organisation and application name (tests point it at a temporary directory with
// QSettings::setPath). Setting a shortcut registers it as a global hot key at once; key presses
// and releases run the handlers of every name whose stored shortcut is the pressed one. Everything
// runs on the main thread.
namespace KeyboardShortcuts {

// Reads and decodes the stored value of the name (no cache).
std::optional<Shortcut> getShortcut(const Name &name);
// Sets (and registers) or, with none, clears the name's shortcut.
void setShortcut(const std::optional<Shortcut> &shortcut, const Name &name);

// Appends a handler for presses (releases) of the name's shortcut and registers the shortcut if
// it is not yet registered.
void onKeyDown(const Name &name, std::function<void()> action);
void onKeyUp(const Name &name, std::function<void()> action);
// Drops the name's handlers; its shortcut is released unless another name with handlers or an
// event stream still uses it.
void removeHandler(const Name &name);
// Drops every handler, releasing the shortcuts no event stream still uses.
void removeAllHandlers();

// Releases (registers again) the stored shortcuts of the names; handlers stay attached.
void disable(const QList<Name> &names);
void enable(const QList<Name> &names);
// False when the global switch is off or the name has no shortcut; else whether it is registered.
bool isEnabled(const Name &name);

// A name with a default gets it back; one without is cleared.
void reset(const QList<Name> &names);
// Resets every name stored in the settings (by the key prefix).
void resetAll();

// The global switch for all hot keys.
bool isEnabled();
void setEnabled(bool enabled);

// True while a shortcut recorder records: presses then run no handler.
bool isPaused();
// A recorder started or stopped recording: pauses dispatch and posts recorderActiveStatusDidChange.
void setRecorderActive(bool active);

// The name's events for as long as the returned stream lives.
std::unique_ptr<EventStream> events(const Name &name);

Notifications *notifications();

// The hook for the application's menus: while a watched menu (or a submenu of it) is open the
// shortcuts are delivered through the menu's own key events, and registered again when it closes.
// Watched menus are also the ones menuItemUsing() searches.
void watchMenu(QMenu *menu);
// The first item of the menu (depth first, submenus included) whose key equivalent is the shortcut.
QAction *matchingMenuItem(const Shortcut &shortcut, const QMenu *menu);
// matchingMenuItem() over every watched menu of the application.
QAction *menuItemUsing(const Shortcut &shortcut);

// Whether the shortcut can be registered as a global hot key now (another program may hold it).
bool canRegister(const Shortcut &shortcut);

// The shortcuts the desktop reserves for itself.
QList<Shortcut> systemShortcuts();

// Called by every Name constructor: records the name and writes its default into an empty key.
void nameCreated(const Name &name);
// Called by EventStream on creation and destruction.
void subscribe(EventStream *stream);
void unsubscribe(EventStream *stream);

} // namespace KeyboardShortcuts
