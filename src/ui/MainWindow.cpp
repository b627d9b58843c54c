#include "ui/MainWindow.h"

#include "ui/FirstRunFlag.h"
#include "ui/MainWindowView.h"
#include "ui/OnboardingView.h"

#include <QCloseEvent>
#include <QPointer>
#include <QVBoxLayout>

static_assert(MainWindow::firstRunSize == OnboardingView::fixedSize, "the window frames the guide at its own size");

MainWindow::MainWindow(MainWindowServices services, QWidget *parent)
    : QWidget(parent, Qt::Window), m_services(std::move(services))
{
    setObjectName(QStringLiteral("main"));
    setWindowTitle(QStringLiteral("Murlex"));
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    connect(m_services.firstRun, &FirstRunFlag::changed, this, [this] {
        if (m_content)
            buildContent();
    });
}

MainWindow::~MainWindow() = default;

void MainWindow::open(bool activate)
{
    if (!m_content)
        buildContent();
    setAttribute(Qt::WA_ShowWithoutActivating, !activate);
    // A minimised window (the history's paste steps aside that way) comes back as it was.
    if (windowState() & Qt::WindowMinimized)
        setWindowState(windowState() & ~Qt::WindowMinimized);
    show();
    if (!activate)
        return;
    raise();
    activateWindow();
}

MainWindowView *MainWindow::view() const { return qobject_cast<MainWindowView *>(m_content.data()); }

void MainWindow::closeEvent(QCloseEvent *event)
{
    dropContent();
    QWidget::closeEvent(event);
}

void MainWindow::dropContent()
{
    if (!m_content)
        return;
    // The content may be the sender of what is being handled (its "继续" or "重看"): it goes
    // once that returns.
    QWidget *old = m_content;
    m_content = nullptr;
    layout()->removeWidget(old);
    old->hide();
    old->deleteLater();
}

void MainWindow::buildContent()
{
    dropContent();
    QWidget *content = nullptr;
    if (m_services.firstRun->hasCompletedOnboarding()) {
        content = new MainWindowView(m_services);
        setMaximumSize(mainMaximumSize);
        setMinimumSize(mainMinimumSize);
        resize(mainMinimumSize);
    } else {
        // Finishing the guide sets the flag, which switches the content to the main view.
        QPointer<FirstRunFlag> flag = m_services.firstRun;
        auto finish = [flag] {
            if (flag)
                flag->setCompletedOnboarding(true);
        };
        content = new OnboardingView(*m_services.state, *m_services.permissions, finish);
        setFixedSize(firstRunSize);
    }
    m_content = content;
    layout()->addWidget(content);
    if (isVisible())
        content->show();
}
