#pragma once

#include "shortcuts/Shortcut.h"

#include <QPointer>
#include <QProcessEnvironment>
#include <QWidget>

#include <functional>
#include <memory>
#include <optional>

class AppState;
class Clipboard;
class QLabel;
class QPushButton;
struct DesktopSession;

// How to give `murlex --toggle` a key of the desktop's own, for a session where Murlex's shortcut
// does not reach it from every window: a Wayland session without the desktop portal's
// GlobalShortcuts (the grab on the X server then sees the keys only while an X11 window has the
// focus). The steps are the desktop's own (GNOME, KDE Plasma, sway, Hyprland, any other), with
// the line to use, written with the person's dictation shortcut and following it when it changes,
// and a button that copies the line.
//
// Whether it is needed comes from the session the state holds (AppState::desktopSession(), found
// at start) and follows it when it changes. Until the state has one the hint is undecided and hidden.
class ToggleBindingHint : public QWidget {
    Q_OBJECT
public:
    enum class Desktop { gnome, kde, sway, hyprland, other };

    struct Options {
        Desktop desktop = desktopFrom(QProcessEnvironment::systemEnvironment().value(QStringLiteral("XDG_CURRENT_DESKTOP")));
        // Where "复制" puts the line; empty: the system clipboard.
        std::function<std::unique_ptr<Clipboard>()> clipboard;
    };

    // The shortcut is the toggle's in `state`.
    explicit ToggleBindingHint(AppState &state, QWidget *parent = nullptr);
    ToggleBindingHint(AppState &state, Options options, QWidget *parent = nullptr);
    ~ToggleBindingHint() override;

    // The desktop named first in XDG_CURRENT_DESKTOP (a list separated by ':') that has steps of
    // its own; other when none has.
    static Desktop desktopFrom(const QString &xdgCurrentDesktop);
    // The line to copy: the command, or the configuration line that binds it to `shortcut` in the
    // desktop's own syntax (Control+Alt+Space where there is none, or where the desktop cannot
    // write it: a key without a keysym, or the function modifier).
    static QString commandFor(Desktop desktop, const std::optional<KeyboardShortcuts::Shortcut> &shortcut);
    static QString stepsFor(Desktop desktop, const std::optional<KeyboardShortcuts::Shortcut> &shortcut);

    bool isNeeded() const { return m_needed.value_or(false); }
    bool isDecided() const { return m_needed.has_value(); }

    QLabel *stepsLabel() const { return m_steps; }
    QLabel *commandLabel() const { return m_command; }
    QPushButton *copyButton() const { return m_copy; }

Q_SIGNALS:
    // Whether the hint is needed was decided (the hint shows when it is).
    void neededChanged(bool needed);
    // The line was put on the clipboard.
    void copied();

private:
    // Needed under Wayland without the portal's GlobalShortcuts; undecided while the session is not known.
    void followSession();
    void render();
    void copy();

    QPointer<AppState> m_state;
    Desktop m_desktop;
    std::function<std::unique_ptr<Clipboard>()> m_clipboard;
    std::optional<bool> m_needed;
    QLabel *m_steps;
    QLabel *m_command;
    QPushButton *m_copy;
};
