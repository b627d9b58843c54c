#pragma once

#include <QString>

// What the desktop session offers for reaching other applications: the kind of session, and under
// Wayland the compositor's protocols, the desktop portal's interfaces and the input-method
// frameworks on the session bus. Found once at start (Platform::desktopSession()).
struct DesktopSession {
    enum class Kind { x11, wayland };
    // How a dictated text reaches the focused application.
    enum class TextPath {
        // The X11 clipboard, then Control+V through XTEST.
        x11,
        // The clipboard through data-control, Control+V through a virtual keyboard (wlroots).
        dataControlVirtualKeyboard,
        // The clipboard through data-control, Control+V through KWin's fake input.
        dataControlFakeInput,
        // The clipboard through the desktop portal's Clipboard interface where the portal has it,
        // else the X11 clipboard through XWayland (the compositor mirrors it to Wayland clients);
        // Control+V as key codes through the portal's RemoteDesktop session (GNOME).
        remoteDesktop,
        // No way to press keys in the focused application: the text is left on the clipboard.
        clipboardOnly,
    };

    Kind kind = Kind::x11;
    // The compositor's globals over our own Wayland connection (all false under X11).
    bool wlrDataControl = false;
    bool extDataControl = false;
    bool virtualKeyboard = false;
    bool kdeFakeInput = false;
    bool foreignToplevel = false;
    // The `version` property of each interface of the desktop portal; 0 where it is absent.
    uint globalShortcutsPortal = 0;
    uint remoteDesktopPortal = 0;
    uint clipboardPortal = 0;
    // Input-method frameworks that own their names on the session bus.
    bool fcitx5 = false;
    bool ibus = false;

    bool dataControl() const { return wlrDataControl || extDataControl; }
    TextPath textPath() const;
    // One line for the log: the session, what it offers and the path the text takes.
    QString describe() const;
};
