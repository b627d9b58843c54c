#pragma once

#include "core/AppIdentity.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QObject>
#include <QPointer>

#include <functional>

class AppState;

// The running application on the session bus: it owns the name quillfen.MurlexMac and exports
// one object whose methods other programs (murlex --toggle, a desktop's custom shortcut, the
// desktop entry's action) call. A new remote operation is one more Q_SCRIPTABLE slot here.
//
// The lock file of SingleInstance stays the rule for one instance per session; the bus name
// only makes that instance reachable.
class SessionBusService : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "quillfen.MurlexMac")

public:
    static constexpr const char *serviceName = AppIdentity::bundleIdentifier;
    static constexpr const char *objectPath = "/quillfen/MurlexMac";
    static constexpr const char *interfaceName = AppIdentity::bundleIdentifier;

    explicit SessionBusService(AppState &state, QObject *parent = nullptr);
    ~SessionBusService() override;

    // Exports the object and asks for the name; nameAcquired() tells the outcome. Without a
    // session bus, or with the name held by another process, the application runs on,
    // unreachable by name (logged).
    void start(QDBusConnection bus = QDBusConnection::sessionBus());

    // What OpenMainWindow does (set by whoever builds the window).
    void setMainWindowOpener(std::function<void()> open);

    // A call of `method` on the running instance, without starting one through bus activation.
    static QDBusMessage callOf(const QString &method);

Q_SIGNALS:
    void nameAcquired(bool acquired);

public Q_SLOTS:
    // Starts or ends a dictation, as the global shortcut does.
    Q_SCRIPTABLE void Toggle();
    // Pastes the newest text of the dictation history into the focused field.
    Q_SCRIPTABLE void PasteLast();
    // Gives up the dictation under way without pasting anything (DictationController::cancel);
    // answers whether there was one.
    Q_SCRIPTABLE bool Cancel();
    // Shows, raises and activates the main window (a second launch of murlex asks for it).
    Q_SCRIPTABLE void OpenMainWindow();

private:
    QPointer<AppState> m_state;
    std::function<void()> m_openMainWindow;
    QDBusConnection m_bus;
    bool m_exported = false;
    bool m_named = false;
};
