#include "ui/FirstRunPlaceholder.h"

#include "ui/MULogo.h"
#include "ui/MUTheme.h"

#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

FirstRunPlaceholder::FirstRunPlaceholder(std::function<void()> finish, QWidget *parent)
    : QWidget(parent), m_continue(new QPushButton(QStringLiteral("继续")))
{
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(40, 40, 40, 40);
    layout->setSpacing(14);
    layout->addStretch(2);
    layout->addWidget(new MULogo(72), 0, Qt::AlignHCenter);
    auto *title = new QLabel(QStringLiteral("欢迎使用 Murlex"));
    title->setFont(MUTheme::heroFont());
    layout->addWidget(title, 0, Qt::AlignHCenter);
    auto *line = new QLabel(QStringLiteral("按下快捷键说话,再按一次,文字就出现在光标所在的地方。"));
    MUTheme::makeCaption(line);
    line->setAlignment(Qt::AlignCenter);
    layout->addWidget(line);
    layout->addStretch(3);
    m_continue->setDefault(true);
    m_continue->setMinimumWidth(160);
    connect(m_continue, &QPushButton::clicked, this, [finish = std::move(finish)] {
        if (finish)
            finish();
    });
    layout->addWidget(m_continue, 0, Qt::AlignHCenter);
}
