#include "ui/ToggleBindingHint.h"

#include "platform/Clipboard.h"
#include "platform/Platform.h"
#include "ui/MUTheme.h"

#include <QFontDatabase>
#include <QHBoxLayout>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QVBoxLayout>

#include <qcoro/qcorotask.h>

namespace {

struct SessionDecision {
    std::optional<bool> given;     // from whoever probed the session
    std::optional<bool> looked;    // from the environment and the portal, once looked up
    bool looking = false;
    QList<QPointer<ToggleBindingHint>> waiting;
};

SessionDecision &sessionDecision()
{
    static SessionDecision decision;
    return decision;
}

QCoro::Task<> lookAtSession()
{
    SessionDecision &decision = sessionDecision();
    decision.looking = true;
    bool needed = false;
    if (ToggleBindingHint::isWaylandSession(QProcessEnvironment::systemEnvironment())) {
        const std::optional<uint> version = co_await Platform::globalShortcutsPortalVersion();
        needed = !version.has_value();
    }
    decision.looking = false;
    decision.looked = needed;
    const auto waiting = std::exchange(decision.waiting, {});
    for (const QPointer<ToggleBindingHint> &hint : waiting)
        if (hint)
            hint->setNeeded(needed);
}

} // namespace

ToggleBindingHint::ToggleBindingHint(QWidget *parent) : ToggleBindingHint(Options{}, parent) {}

ToggleBindingHint::ToggleBindingHint(Options options, QWidget *parent)
    : QWidget(parent)
    , m_clipboard(std::move(options.clipboard))
    , m_steps(new QLabel(stepsFor(options.desktop)))
    , m_command(new QLabel(commandFor(options.desktop)))
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

    setVisible(false);
    if (options.needed)
        setNeeded(*options.needed);
    else
        decideFromSession();
}

ToggleBindingHint::~ToggleBindingHint() = default;

void ToggleBindingHint::decideFromSession()
{
    SessionDecision &decision = sessionDecision();
    if (decision.given) {
        setNeeded(*decision.given);
        return;
    }
    if (decision.looked) {
        setNeeded(*decision.looked);
        return;
    }
    decision.waiting.append(this);
    if (!decision.looking)
        lookAtSession();
}

void ToggleBindingHint::setSessionNeedsHint(std::optional<bool> needed)
{
    SessionDecision &decision = sessionDecision();
    decision.given = needed;
    if (!needed)
        decision.looked.reset();
}

bool ToggleBindingHint::isWaylandSession(const QProcessEnvironment &environment)
{
    return environment.value(QStringLiteral("XDG_SESSION_TYPE")).compare(QStringLiteral("wayland"), Qt::CaseInsensitive) == 0
        || !environment.value(QStringLiteral("WAYLAND_DISPLAY")).isEmpty();
}

void ToggleBindingHint::setNeeded(bool needed)
{
    m_needed = needed;
    setVisible(needed);
    Q_EMIT neededChanged(needed);
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

QString ToggleBindingHint::commandFor(Desktop desktop)
{
    switch (desktop) {
    case Desktop::sway:
        return QStringLiteral("bindsym Ctrl+Alt+space exec murlex --toggle");
    case Desktop::hyprland:
        return QStringLiteral("bind = CTRL ALT, space, exec, murlex --toggle");
    case Desktop::gnome:
    case Desktop::kde:
    case Desktop::other:
        break;
    }
    return QStringLiteral("murlex --toggle");
}

QString ToggleBindingHint::stepsFor(Desktop desktop)
{
    switch (desktop) {
    case Desktop::gnome:
        return QStringLiteral("打开「设置 → 键盘 → 查看及自定义快捷键 → 自定义快捷键」,点「添加快捷键」,"
                              "名称随意,命令填下面这一行,再按下想用的按键(例如 Ctrl+Alt+空格)。");
    case Desktop::kde:
        return QStringLiteral("打开「系统设置 → 快捷键」,点「添加新项 → 命令或脚本」,命令填下面这一行,"
                              "再为它录入想用的按键(例如 Ctrl+Alt+空格)。");
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
