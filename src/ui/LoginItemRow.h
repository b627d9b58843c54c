#pragma once

#include <QWidget>

class LoginItemController;
class QCheckBox;
class QLabel;

// The "开机自动启动" switch over the login item. Only the installed executable may be registered:
// anywhere else the switch is disabled and a caption says where this one runs from and where to
// install it. The controller is re-read each time the row is shown.
class LoginItemRow : public QWidget {
    Q_OBJECT
public:
    LoginItemRow(LoginItemController &controller, QString runningPath, QString installPrefix,
                 QWidget *parent = nullptr);

    QCheckBox *toggle() const { return m_switch; }
    QLabel *caption() const { return m_caption; }

    static QString captionText(const QString &runningPath, const QString &installPrefix);

protected:
    void showEvent(QShowEvent *event) override;

private:
    void showController();

    LoginItemController &m_controller;
    QCheckBox *m_switch;
    QLabel *m_caption;
};
