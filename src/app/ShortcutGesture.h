#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QPointer>

#include <chrono>
#include <functional>

class AppState;
class DictationController;

// What a press and a release of the global shortcut mean, by the shortcut mode of the
// preferences (read at each press).
//
// Toggle: every press is one toggle of the dictation; releases mean nothing.
// Hold: a press while no dictation runs starts one, and its release ends it. A press let go
// within shortPressLimit is taken as a toggle press instead: that dictation goes on until the
// next press, so both habits work. A dictation still starting when the key is let go ends as
// soon as it records. Any other press acts as a toggle press (it ends a recording, dismisses an
// error).
//
// Auto-repeat never reaches this class: the hot-key layer reports one press and one release
// however long the key is held.
class ShortcutGesture : public QObject {
    Q_OBJECT
public:
    static constexpr std::chrono::milliseconds shortPressLimit{300};

    // The controller hold mode drives; empty for the state's own (tests drive one of their own).
    using DictationAccess = std::function<DictationController &()>;

    // The state is held weakly. `shortPress` is shortPressLimit but in tests.
    explicit ShortcutGesture(AppState &state, DictationAccess dictation = {},
                             std::chrono::milliseconds shortPress = shortPressLimit, QObject *parent = nullptr);

    // Called inside the key events; the work runs after them, on the event loop, in their order.
    void pressed();
    void released();

private:
    void handlePress(qint64 atMs);
    void handleRelease(qint64 atMs);
    DictationController &dictation();

    QPointer<AppState> m_state;
    DictationAccess m_dictation;
    const std::chrono::milliseconds m_shortPress;
    QElapsedTimer m_clock;
    bool m_holding = false; // a hold-mode press started the dictation and is not let go yet
    qint64 m_pressedAtMs = 0;
};
