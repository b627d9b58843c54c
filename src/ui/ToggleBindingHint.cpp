#include "ui/ToggleBindingHint.h"

#include "app/AppState.h"
#include "platform/Clipboard.h"
#include "platform/DesktopSession.h"
#include "platform/Platform.h"
#include "shortcuts/ModifierFlags.h"
#include "ui/MUTheme.h"

#include <QFontDatabase>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

using KeyboardShortcuts::ModifierFlags;
using KeyboardShortcuts::Shortcut;

namespace {

// Shown where the person has no shortcut, or one the desktop cannot write.
const Shortcut exampleShortcut = Shortcut::fromKey(KeyboardShortcuts::Key::space, ModifierFlags::control | ModifierFlags::option);

struct Modifier {
    quint64 flag;
    const char *sway;
    const char *hyprland;
    const char *shown;
};
// In the order the shortcut's own description shows them.
constexpr Modifier modifiers[] = {{ModifierFlags::control, "Ctrl", "CTRL", "Ctrl"},
                                  {ModifierFlags::option, "Alt", "ALT", "Alt"},
                                  {ModifierFlags::shift, "Shift", "SHIFT", "Shift"},
                                  {ModifierFlags::command, "Mod4", "SUPER", "Super"}};

// The shortcut when the desktops can write it: a key with a keysym, no function modifier.
std::optional<Shortcut> writable(const std::optional<Shortcut> &shortcut)
{
    if (!shortcut || (shortcut->modifiers() & ModifierFlags::function) || !Platform::keyName(shortcut->carbonKeyCode))
        return std::nullopt;
    return shortcut;
}

QStringList modifierNames(const Shortcut &shortcut, const char *Modifier::*name)
{
    QStringList names;
    for (const Modifier &modifier : modifiers)
        if (shortcut.modifiers() & modifier.flag)
            names << QLatin1String(modifier.*name);
    return names;
}

// The keys as the desktop's shortcut settings show them, e.g. "Ctrl+Alt+空格".
QString shownKeys(const Shortcut &shortcut)
{
    return (modifierNames(shortcut, &Modifier::shown) << Shortcut(shortcut.carbonKeyCode, 0).description()).join(u'+');
}

} // namespace

ToggleBindingHint::ToggleBindingHint(AppState &state, QWidget *parent) : ToggleBindingHint(state, Options{}, parent) {}

ToggleBindingHint::ToggleBindingHint(AppState &state, Options options, QWidget *parent)
    : QWidget(parent)
    , m_state(&state)
    , m_desktop(options.desktop)
    , m_clipboard(std::move(options.clipboard))
    , m_steps(new QLabel)
    , m_command(new QLabel)
    , m_copy(new QPushButton(QStringLiteral("复制")))
{
    setObjectName(QStringLiteral("toggleBindingHint"));
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 4, 0, 0);
    layout->setSpacing(6);

    auto *title = new QLabel(QStringLiteral("Wayland 下请给快捷键换个绑法"));
    QPalette warning = title->palette();
    warning.setColor(QPalette::WindowText, MUTheme::warning());
    title->setPalette(warning);
    QFont bold = title->font();
    bold.setBold(true);
    title->setFont(bold);
    layout->addWidget(title);

    auto *why = new QLabel(QStringLiteral("当前桌面没有提供全局快捷键接口:焦点在原生 Wayland 应用里时,Murlex 收不到上面的快捷键"
                                          "(在 X11 应用里照常可用)。让桌面自己的快捷键来运行 Murlex 的命令即可:"));
    why->setWordWrap(true);
    layout->addWidget(why);
    m_steps->setWordWrap(true);
    m_steps->setTextInteractionFlags(Qt::TextSelectableByMouse);
    layout->addWidget(m_steps);

    auto *commandRow = new QHBoxLayout;
    commandRow->setSpacing(8);
    m_command->setObjectName(QStringLiteral("toggleCommand"));
    m_command->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    m_command->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_command->setStyleSheet(QStringLiteral("#toggleCommand { background: palette(base); color: palette(text);"
                                            " border: 1px solid palette(mid); border-radius: 6px; padding: 4px 8px; }"));
    commandRow->addWidget(m_command, 1);
    m_copy->setToolTip(QStringLiteral("把这一行复制到剪贴板"));
    commandRow->addWidget(m_copy);
    layout->addLayout(commandRow);
    connect(m_copy, &QPushButton::clicked, this, &ToggleBindingHint::copy);

    connect(&state, &AppState::hotkeyShortcutChanged, this, &ToggleBindingHint::render);
    render();

    connect(&state, &AppState::desktopSessionChanged, this, &ToggleBindingHint::followSession);
    followSession();
}

ToggleBindingHint::~ToggleBindingHint() = default;

void ToggleBindingHint::followSession()
{
    const std::optional<DesktopSession> session = m_state ? m_state->desktopSession() : std::nullopt;
    std::optional<bool> needed;
    if (session)
        needed = session->kind == DesktopSession::Kind::wayland && session->globalShortcutsPortal == 0;
    const bool changed = needed != m_needed;
    m_needed = needed;
    setVisible(needed.value_or(false));
    if (changed && needed)
        Q_EMIT neededChanged(*needed);
}

void ToggleBindingHint::render()
{
    const std::optional<Shortcut> shortcut = m_state ? m_state->hotkeyShortcut() : std::nullopt;
    m_steps->setText(stepsFor(m_desktop, shortcut));
    m_command->setText(commandFor(m_desktop, shortcut));
    m_copy->setText(QStringLiteral("复制"));
}

ToggleBindingHint::Desktop ToggleBindingHint::desktopFrom(const QString &xdgCurrentDesktop)
{
    for (const QString &name : xdgCurrentDesktop.split(u':', Qt::SkipEmptyParts)) {
        const QString lower = name.trimmed().toLower();
        if (lower == u"gnome" || lower == u"gnome-classic" || lower == u"gnome-flashback")
            return Desktop::gnome;
        if (lower == u"kde")
            return Desktop::kde;
        if (lower == u"sway")
            return Desktop::sway;
        if (lower == u"hyprland")
            return Desktop::hyprland;
    }
    return Desktop::other;
}

QString ToggleBindingHint::commandFor(Desktop desktop, const std::optional<Shortcut> &shortcut)
{
    const Shortcut keys = writable(shortcut).value_or(exampleShortcut);
    const QString key = Platform::keyName(keys.carbonKeyCode).value_or(QStringLiteral("space"));
    switch (desktop) {
    case Desktop::sway:
        // Modifiers and the keysym joined by '+'.
        return QStringLiteral("bindsym %1 exec murlex --toggle").arg((modifierNames(keys, &Modifier::sway) << key).join(u'+'));
    case Desktop::hyprland:
        // The modifiers separated by spaces (none: empty), then the keysym.
        return QStringLiteral("bind = %1, %2, exec, murlex --toggle").arg(modifierNames(keys, &Modifier::hyprland).join(u' '), key);
    case Desktop::gnome:
    case Desktop::kde:
    case Desktop::other:
        break;
    }
    return QStringLiteral("murlex --toggle");
}

QString ToggleBindingHint::stepsFor(Desktop desktop, const std::optional<Shortcut> &shortcut)
{
    const std::optional<Shortcut> keys = writable(shortcut);
    const QString press = keys ? QStringLiteral(" %1(和 Murlex 里设的快捷键一样)").arg(shownKeys(*keys))
                               : QStringLiteral("想用的按键(例如 %1)").arg(shownKeys(exampleShortcut));
    switch (desktop) {
    case Desktop::gnome:
        return QStringLiteral("打开「设置 → 键盘 → 查看及自定义快捷键 → 自定义快捷键」,点「添加快捷键」,"
                              "名称随意,命令填下面这一行,再按下%1。").arg(press);
    case Desktop::kde:
        return QStringLiteral("打开「系统设置 → 快捷键」,点「添加新项 → 命令或脚本」,命令填下面这一行,"
                              "再为它录入%1。").arg(press);
    case Desktop::sway:
        return QStringLiteral("把下面这一行加进 sway 的配置文件 ~/.config/sway/config,再运行 swaymsg reload;"
                              "按键可以换成你习惯的。");
    case Desktop::hyprland:
        return QStringLiteral("把下面这一行加进 Hyprland 的配置文件 ~/.config/hypr/hyprland.conf,保存后即生效;"
                              "按键可以换成你习惯的。");
    case Desktop::other:
        break;
    }
    return QStringLiteral("在桌面环境的键盘快捷键设置里添加一个自定义快捷键,命令填下面这一行,再为它设好按键。");
}

void ToggleBindingHint::copy()
{
    std::unique_ptr<Clipboard> clipboard = m_clipboard ? m_clipboard() : Platform::clipboard();
    clipboard->setText(m_command->text());
    m_copy->setText(QStringLiteral("已复制"));
    Q_EMIT copied();
}
