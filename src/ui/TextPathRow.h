#pragma once

#include "platform/DesktopSession.h"

#include <QPointer>
#include <QWidget>

class AppState;
class QLabel;

// "文字写入方式": how a dictated text reaches the focused application in this session (X11 粘贴,
// Wayland 剪贴板协议, GNOME 远程桌面, or 仅复制 where no key reaches it), read-only. Where Fcitx5 runs
// the text is first committed through it: the row says "Fcitx5 直接提交" and, in a caption, what is
// used when Fcitx5 cannot commit. With "只复制,不粘贴" on, the row says 仅复制 whatever the session
// offers. Follows the session probe's answer and the preference as they change.
class TextPathRow : public QWidget {
    Q_OBJECT
public:
    explicit TextPathRow(AppState &state, QWidget *parent = nullptr);

    // The name of the path a session's text takes, without the input method.
    static QString pathName(DesktopSession::TextPath path);

    QLabel *pathLabel() const { return m_path; }
    // What is used when the input method cannot commit, or that copy only is chosen; hidden otherwise.
    QLabel *captionLabel() const { return m_caption; }

private:
    void refresh();

    QPointer<AppState> m_state;
    // The session as known before the probe answers (without the session bus's part).
    DesktopSession m_compositorSession;
    QLabel *m_path;
    QLabel *m_caption;
};
