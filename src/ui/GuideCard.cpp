#include "ui/GuideCard.h"

#include "ui/MUTheme.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace {
constexpr int iconSize = 26;
}

GuideCard::GuideCard(const QString &icon, const QString &title, const QString &description,
                     std::optional<QString> actionTitle, std::function<void()> action, QWidget *parent)
    : MUCard(14, parent)
    , m_icon(icon)
    , m_iconLabel(new QLabel)
    , m_title(new QLabel(title))
    , m_description(new QLabel(description))
{
    auto *row = new QHBoxLayout;
    row->setSpacing(12);
    m_iconLabel->setFixedSize(iconSize, iconSize);
    m_iconLabel->setPixmap(MUTheme::symbol(m_icon, iconSize, MUTheme::warning()));
    row->addWidget(m_iconLabel, 0, Qt::AlignTop);

    auto *texts = new QVBoxLayout;
    texts->setSpacing(4);
    m_title->setFont(MUTheme::titleFont());
    texts->addWidget(m_title);
    MUTheme::makeCaption(m_description);
    texts->addWidget(m_description);
    if (actionTitle) {
        m_button = new QPushButton(*actionTitle);
        m_button->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
        if (action)
            connect(m_button, &QPushButton::clicked, this, [action = std::move(action)] { action(); });
        texts->addSpacing(4);
        texts->addWidget(m_button, 0, Qt::AlignLeft);
    }
    row->addLayout(texts, 1);
    content()->addLayout(row);
}

QString GuideCard::title() const { return m_title->text(); }
QString GuideCard::description() const { return m_description->text(); }
