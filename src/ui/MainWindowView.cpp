#include "ui/MainWindowView.h"

#include "ui/HistoryTab.h"
#include "ui/HomeTab.h"
#include "ui/HotwordsTab.h"
#include "ui/MUTheme.h"
#include "ui/SettingsTab.h"

#include <QEvent>
#include <QHBoxLayout>
#include <QListWidget>
#include <QScrollArea>
#include <QSplitter>
#include <QStackedWidget>

namespace {
QScrollArea *scrolling(QWidget *tab)
{
    auto *area = new QScrollArea;
    area->setWidget(tab);
    area->setWidgetResizable(true);
    area->setFrameShape(QFrame::NoFrame);
    area->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    return area;
}
} // namespace

MainWindowView::MainWindowView(const MainWindowServices &services, QWidget *parent)
    : QWidget(parent)
    , m_splitter(new QSplitter(Qt::Horizontal))
    , m_sidebar(new QListWidget)
    , m_detail(new QStackedWidget)
    , m_home(new HomeTab(services))
    , m_hotwords(new HotwordsTab(*services.hotWords))
    , m_history(new HistoryTab(*services.state))
    , m_settings(new SettingsTab(services))
{
    auto *layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);

    m_sidebar->setObjectName(QStringLiteral("sidebar"));
    m_sidebar->setMinimumWidth(sidebarMinimumWidth);
    m_sidebar->setMaximumWidth(sidebarMaximumWidth);
    m_sidebar->setFrameShape(QFrame::NoFrame);
    m_sidebar->setIconSize(QSize(18, 18));
    m_sidebar->setSpacing(2);
    m_sidebar->setBackgroundRole(QPalette::Window);
    m_sidebar->setAutoFillBackground(true);
    m_sidebar->viewport()->setBackgroundRole(QPalette::Window);
    QFont font = m_sidebar->font();
    font.setPointSizeF(font.pointSizeF() * 1.08);
    m_sidebar->setFont(font);
    for (const MainTab tab : MainTabs::all()) {
        auto *item = new QListWidgetItem(MainTabs::label(tab), m_sidebar);
        item->setData(Qt::UserRole, MainTabs::rawValue(tab));
        item->setSizeHint(QSize(0, 34));
    }
    paintSidebarIcons();

    m_detail->addWidget(scrolling(m_home));
    m_detail->addWidget(scrolling(m_hotwords));
    m_detail->addWidget(scrolling(m_history));
    m_detail->addWidget(scrolling(m_settings));

    m_splitter->addWidget(m_sidebar);
    m_splitter->addWidget(m_detail);
    m_splitter->setCollapsible(0, false);
    m_splitter->setCollapsible(1, false);
    m_splitter->setStretchFactor(1, 1);
    m_splitter->setSizes({sidebarIdealWidth, 10000});
    layout->addWidget(m_splitter);

    connect(m_sidebar, &QListWidget::currentRowChanged, this, [this](int row) {
        if (row >= 0 && row < MainTabs::all().size())
            select(MainTabs::all().at(row));
    });
    m_sidebar->setCurrentRow(0);
    m_detail->setCurrentIndex(0);
}

void MainWindowView::select(MainTab tab)
{
    m_selection = tab;
    const int row = int(MainTabs::all().indexOf(tab));
    if (m_sidebar->currentRow() != row)
        m_sidebar->setCurrentRow(row);
    m_detail->setCurrentIndex(row);
}

void MainWindowView::changeEvent(QEvent *event)
{
    if (event->type() == QEvent::PaletteChange)
        paintSidebarIcons();
    QWidget::changeEvent(event);
}

void MainWindowView::paintSidebarIcons()
{
    for (int row = 0; row < m_sidebar->count(); ++row)
        m_sidebar->item(row)->setIcon(MUTheme::symbolIcon(MainTabs::symbol(MainTabs::all().at(row)), palette()));
}
