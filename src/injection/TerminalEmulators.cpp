#include "injection/TerminalEmulators.h"

const QStringList &TerminalEmulators::windowClassNames()
{
    // Instance or class names as the emulators set them in WM_CLASS, lower-cased. Only emulators
    // that paste the clipboard with Control+Shift+V out of the box belong here: xterm and rxvt-unicode
    // paste the primary selection with Shift+Insert instead, so they are left out on purpose.
    static const QStringList names = {
        QStringLiteral("gnome-terminal"),
        QStringLiteral("gnome-terminal-server"),
        QStringLiteral("org.gnome.terminal"),
        QStringLiteral("kgx"),
        QStringLiteral("org.gnome.console"),
        QStringLiteral("org.gnome.ptyxis"),
        QStringLiteral("ptyxis"),
        QStringLiteral("com.raggesilver.blackbox"),
        QStringLiteral("konsole"),
        QStringLiteral("org.kde.konsole"),
        QStringLiteral("yakuake"),
        QStringLiteral("xfce4-terminal"),
        QStringLiteral("mate-terminal"),
        QStringLiteral("lxterminal"),
        QStringLiteral("qterminal"),
        QStringLiteral("deepin-terminal"),
        QStringLiteral("terminator"),
        QStringLiteral("tilix"),
        QStringLiteral("com.gexperts.tilix"),
        QStringLiteral("guake"),
        QStringLiteral("tilda"),
        QStringLiteral("sakura"),
        QStringLiteral("terminology"),
        QStringLiteral("alacritty"),
        QStringLiteral("kitty"),
        QStringLiteral("org.wezfurlong.wezterm"),
        QStringLiteral("wezterm"),
        QStringLiteral("com.mitchellh.ghostty"),
        QStringLiteral("ghostty"),
        QStringLiteral("st"),
        QStringLiteral("st-256color"),
        QStringLiteral("cool-retro-term"),
        QStringLiteral("contour"),
        QStringLiteral("tabby"),
        QStringLiteral("hyper"),
    };
    return names;
}

bool TerminalEmulators::contains(const WindowClass &windowClass)
{
    const QStringList &names = windowClassNames();
    for (const QString &name : {windowClass.instanceName, windowClass.className})
        if (!name.isEmpty() && names.contains(name.toLower()))
            return true;
    return false;
}
