#include "ui/TextPathRow.h"

#include "app/AppState.h"
#include "platform/Platform.h"
#include "store/DictationPreferences.h"
#include "ui/MUTheme.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QSignalBlocker>
#include <QVBoxLayout>

TextPathRow::TextPathRow(AppState &state, QWidget *parent)
    : QWidget(parent)
    , m_state(&state)
    , m_compositorSession(state.desktopSession() ? *state.desktopSession() : Platform::desktopSession())
    , m_path(new QLabel)
    , m_fallback(new QLabel)
    , m_copyOnly(new QCheckBox(QStringLiteral("强制仅复制")))
{
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    auto *pathRow = new QHBoxLayout;
    pathRow->addWidget(new QLabel(QStringLiteral("文字写入方式")));
    pathRow->addStretch(1);
    m_path->setTextInteractionFlags(Qt::TextSelectableByMouse);
    pathRow->addWidget(m_path);
    layout->addLayout(pathRow);
    MUTheme::makeCaption(m_fallback);
    m_fallback->setAlignment(Qt::AlignRight);
    layout->addWidget(m_fallback);
    layout->addSpacing(6);
    layout->addWidget(m_copyOnly);
    auto *caption = new QLabel(QStringLiteral("所有文字(含“再次粘贴”)都只放到剪贴板,不模拟按键,不经输入法,也不恢复原来的内容。"));
    MUTheme::makeCaption(caption);
    layout->addWidget(caption);

    DictationPreferences &preferences = state.preferences();
    m_copyOnly->setChecked(preferences.forceCopyOnly());
    connect(m_copyOnly, &QCheckBox::toggled, &preferences, &DictationPreferences::setForceCopyOnly);
    connect(&preferences, &DictationPreferences::forceCopyOnlyChanged, this, [this](bool on) {
        const QSignalBlocker quiet(m_copyOnly);
        m_copyOnly->setChecked(on);
        refresh();
    });
    connect(&state, &AppState::desktopSessionChanged, this, &TextPathRow::refresh);
    refresh();
}

QString TextPathRow::pathName(DesktopSession::TextPath path)
{
    switch (path) {
    case DesktopSession::TextPath::x11:
        return QStringLiteral("X11 粘贴");
    case DesktopSession::TextPath::dataControlVirtualKeyboard:
    case DesktopSession::TextPath::dataControlFakeInput:
        return QStringLiteral("Wayland 剪贴板协议");
    case DesktopSession::TextPath::remoteDesktop:
        return QStringLiteral("GNOME 远程桌面");
    case DesktopSession::TextPath::clipboardOnly:
        break;
    }
    return QStringLiteral("仅复制");
}

void TextPathRow::refresh()
{
    if (!m_state)
        return;
    const DesktopSession session = m_state->desktopSession().value_or(m_compositorSession);
    const QString path = pathName(session.textPath());
    const bool forced = m_state->preferences().forceCopyOnly();
    const bool inputMethod = !forced && session.fcitx5;
    m_path->setText(forced ? pathName(DesktopSession::TextPath::clipboardOnly)
                           : inputMethod ? QStringLiteral("Fcitx5 直接提交")
                                         : path);
    m_fallback->setText(inputMethod ? QStringLiteral("Fcitx5 无法提交时改用“%1”").arg(path) : QString());
    m_fallback->setVisible(inputMethod);
}
