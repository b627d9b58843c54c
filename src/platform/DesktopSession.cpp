#include "platform/DesktopSession.h"

#include <QStringList>

DesktopSession::TextPath DesktopSession::textPath() const
{
    if (kind == Kind::x11)
        return TextPath::x11;
    // Both need the clipboard set without the keyboard focus, which only data-control allows a
    // background client. Where KWin grants its fake input, that is its own way in; a virtual
    // keyboard there belongs to the input method KWin starts.
    if (dataControl() && kdeFakeInput)
        return TextPath::dataControlFakeInput;
    if (dataControl() && virtualKeyboard)
        return TextPath::dataControlVirtualKeyboard;
    // GNOME's way: the clipboard through XWayland, whose owner the compositor mirrors to Wayland
    // applications, and the keys through the portal. Chosen by what the session offers, not by
    // the desktop's name: the portal has the interface only where a backend implements it.
    if (remoteDesktopPortal > 0)
        return TextPath::remoteDesktop;
    return TextPath::clipboardOnly;
}

QString DesktopSession::describe() const
{
    static const char *const paths[] = {"X11 clipboard + XTEST", "data-control + virtual keyboard",
                                        "data-control + KWin fake input", "X11 clipboard + RemoteDesktop portal keys",
                                        "clipboard only (no paste)"};
    QString path = QString::fromLatin1(paths[static_cast<int>(textPath())]);
    if (textPath() == TextPath::remoteDesktop && clipboardPortal > 0)
        path = QStringLiteral("portal clipboard + RemoteDesktop portal keys");
    if (kind == Kind::x11)
        return QStringLiteral("session X11; text via %1").arg(path);

    QStringList globals;
    const std::pair<bool, const char *> offered[] = {
        {wlrDataControl, "zwlr_data_control_manager_v1"},   {extDataControl, "ext_data_control_manager_v1"},
        {virtualKeyboard, "zwp_virtual_keyboard_manager_v1"}, {kdeFakeInput, "org_kde_kwin_fake_input"},
        {foreignToplevel, "zwlr_foreign_toplevel_manager_v1"},
    };
    for (const auto &[present, name] : offered)
        if (present)
            globals << QString::fromLatin1(name);
    QStringList methods;
    if (fcitx5)
        methods << QStringLiteral("Fcitx5");
    if (ibus)
        methods << QStringLiteral("IBus");
    return QStringLiteral("session Wayland (Murlex on XWayland); globals: %1; portal GlobalShortcuts v%2, "
                          "RemoteDesktop v%3, Clipboard v%4; input methods: %5; text via %6")
        .arg(globals.isEmpty() ? QStringLiteral("none") : globals.join(QLatin1Char(' ')))
        .arg(globalShortcutsPortal)
        .arg(remoteDesktopPortal)
        .arg(clipboardPortal)
        .arg(methods.isEmpty() ? QStringLiteral("none") : methods.join(QLatin1Char(' ')), path);
}
