#pragma once

#include <QProcessEnvironment>
#include <QWidget>

#include <functional>
#include <memory>
#include <optional>

class Clipboard;
class QLabel;
class QPushButton;

// How to give `murlex --toggle` a key of the desktop's own, for a session where Murlex's shortcut
// does not reach it from every window: a Wayland session without the desktop portal's
// GlobalShortcuts (the grab on the X server then sees the keys only while an X11 window has the
// focus). The steps are the desktop's own (GNOME, KDE Plasma, sway, Hyprland, any other), with
// the line to use and a button that copies it.
//
// Hidden unless needed. Whether it is needed is an input: given, or set for the whole process by
// whoever probed the session (setSessionNeedsHint), or else decided from the environment and an
// asynchronous look for the portal, once per process.
class ToggleBindingHint : public QWidget {
    Q_OBJECT
public:
    enum class Desktop { gnome, kde, sway, hyprland, other };

    struct Options {
        // Empty: the session's decision (see above).
        std::optional<bool> needed;
        Desktop desktop = desktopFrom(QProcessEnvironment::systemEnvironment().value(QStringLiteral("XDG_CURRENT_DESKTOP")));
        // Where "复制" puts the line; empty: the system clipboard.
        std::function<std::unique_ptr<Clipboard>()> clipboard;
    };

    explicit ToggleBindingHint(QWidget *parent = nullptr);
    explicit ToggleBindingHint(Options options, QWidget *parent = nullptr);
    ~ToggleBindingHint() override;

    // The desktop named first in XDG_CURRENT_DESKTOP (a list separated by ':') that has steps of
    // its own; other when none has.
    static Desktop desktopFrom(const QString &xdgCurrentDesktop);
    // The line to copy: the command, or the configuration line that binds it.
    static QString commandFor(Desktop desktop);
    static QString stepsFor(Desktop desktop);

    // XDG_SESSION_TYPE is wayland, or a Wayland display is named.
    static bool isWaylandSession(const QProcessEnvironment &environment);
    // The whole process's decision, for whoever knows the session; empty: decide as described
    // above (looking at the session again), for hints made from now on.
    static void setSessionNeedsHint(std::optional<bool> needed);

    bool isNeeded() const { return m_needed.value_or(false); }
    // False while the look at the session is under way.
    bool isDecided() const { return m_needed.has_value(); }
    void setNeeded(bool needed);

    QLabel *stepsLabel() const { return m_steps; }
    QLabel *commandLabel() const { return m_command; }
    QPushButton *copyButton() const { return m_copy; }

Q_SIGNALS:
    // Whether the hint is needed was set or decided (the hint shows when it is).
    void neededChanged(bool needed);
    // The line was put on the clipboard.
    void copied();

private:
    void decideFromSession();
    void copy();

    std::function<std::unique_ptr<Clipboard>()> m_clipboard;
    std::optional<bool> m_needed;
    QLabel *m_steps;
    QLabel *m_command;
    QPushButton *m_copy;
};
