#include "ui/HotwordsTab.h"

#include "ui/HotwordsSection.h"
#include "ui/MUTheme.h"

#include <QVBoxLayout>

HotwordsTab::HotwordsTab(HotWordsStore &store, QWidget *parent)
    : QWidget(parent), m_section(new HotwordsSection(store))
{
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(28, 24, 28, 24);
    layout->addWidget(MUTheme::groupedSection(QStringLiteral("热词"), m_section));
    layout->addStretch(1);
}
