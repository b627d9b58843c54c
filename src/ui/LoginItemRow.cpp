#include "ui/LoginItemRow.h"

#include "ui/LoginItemController.h"
#include "ui/MUTheme.h"

#include <QCheckBox>
#include <QLabel>
#include <QSignalBlocker>
#include <QVBoxLayout>

LoginItemRow::LoginItemRow(LoginItemController &controller, QString runningPath, QString installPrefix, QWidget *parent)
    : QWidget(parent)
    , m_controller(controller)
    , m_switch(new QCheckBox(QStringLiteral("开机自动启动")))
    , m_caption(new QLabel(captionText(runningPath, installPrefix)))
{
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_switch);
    MUTheme::makeCaption(m_caption);
    m_caption->setTextInteractionFlags(Qt::TextSelectableByMouse);
    layout->addWidget(m_caption);

    connect(m_switch, &QCheckBox::toggled, this, [this](bool on) {
        m_controller.setEnabled(on);
        // A refused or failed change leaves the controller as it was: so does the switch.
        showController();
    });
    connect(&controller, &LoginItemController::isRegisteredChanged, this, &LoginItemRow::showController);
    connect(&controller, &LoginItemController::isInstallableLocationChanged, this, &LoginItemRow::showController);
    showController();
}

QString LoginItemRow::captionText(const QString &runningPath, const QString &installPrefix)
{
    return QStringLiteral("当前从 ") + runningPath + QStringLiteral(" 运行,不是 ") + installPrefix
        + QStringLiteral("。请先 `make install` 把 App 装到 ") + installPrefix + QStringLiteral(",再来这里打开开关。");
}

void LoginItemRow::showEvent(QShowEvent *event)
{
    m_controller.refresh();
    QWidget::showEvent(event);
}

void LoginItemRow::showController()
{
    const QSignalBlocker quiet(m_switch);
    m_switch->setChecked(m_controller.isRegistered());
    m_switch->setEnabled(m_controller.isInstallableLocation());
    m_caption->setVisible(!m_controller.isInstallableLocation());
}
