#include "ui/TextPathRow.h"

#include "app/AppState.h"
#include "platform/Platform.h"
#include "store/DictationPreferences.h"
#include "ui/MUTheme.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

TextPathRow::TextPathRow(AppState &state, QWidget *parent)
    : QWidget(parent)
    , m_state(&state)
    , m_compositorSession(state.desktopSession() ? *state.desktopSession() : Platform::desktopSession())
    , m_path(new QLabel)
    , m_caption(new QLabel)
{
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    auto *pathRow = new QHBoxLayout;
    pathRow->addWidget(new QLabel(QStringLiteral("文字写入方式")));
    pathRow->addStretch(1);
    m_path->setTextInteractionFlags(Qt::TextSelectableByMouse);
    pathRow->addWidget(m_path);
    layout->addLayout(pathRow);
    MUTheme::makeCaption(m_caption);
    m_caption->setAlignment(Qt::AlignRight);
    layout->addWidget(m_caption);

    connect(&state.preferences(), &DictationPreferences::copyOnlyChanged, this, &TextPathRow::refresh);
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
    const bool copyOnly = m_state->preferences().copyOnly();
    const bool inputMethod = !copyOnly && session.fcitx5;
    m_path->setText(copyOnly      ? pathName(DesktopSession::TextPath::clipboardOnly)
                    : inputMethod ? QStringLiteral("Fcitx5 直接提交")
                                  : path);
    m_caption->setText(copyOnly      ? QStringLiteral("已开启“只复制,不粘贴”")
                       : inputMethod ? QStringLiteral("Fcitx5 无法提交时改用“%1”").arg(path)
                                     : QString());
    m_caption->setVisible(copyOnly || inputMethod);
}
