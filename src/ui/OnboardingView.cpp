#include "ui/OnboardingView.h"

#include "app/AppState.h"
#include "ui/OnboardingAccessibilityPage.h"
#include "ui/OnboardingMicPage.h"
#include "ui/OnboardingPalette.h"
#include "ui/OnboardingTestPage.h"
#include "ui/OnboardingWelcomePage.h"

#include <QGraphicsOpacityEffect>
#include <QGuiApplication>
#include <QHideEvent>
#include <QPropertyAnimation>
#include <QResizeEvent>
#include <QShowEvent>

namespace {
// Fades `page` from one opacity to another over `duration`, then calls `done` (with the effect
// removed, so that the page draws on its own again).
void fade(QWidget *page, qreal from, qreal to, std::chrono::milliseconds duration, std::function<void()> done)
{
    auto *effect = new QGraphicsOpacityEffect(page);
    effect->setOpacity(from);
    page->setGraphicsEffect(effect);
    auto *animation = new QPropertyAnimation(effect, "opacity", page);
    animation->setDuration(int(duration.count()));
    animation->setStartValue(from);
    animation->setEndValue(to);
    animation->setEasingCurve(QEasingCurve::InOutQuad);
    QObject::connect(animation, &QPropertyAnimation::finished, page, [page, done = std::move(done)] {
        page->setGraphicsEffect(nullptr);
        if (done)
            done();
    });
    animation->start(QAbstractAnimation::DeleteWhenStopped);
}
} // namespace

OnboardingView::OnboardingView(AppState &state, PermissionChecker &permissions, std::function<void()> onFinish,
                               QWidget *parent)
    : OnboardingView(state, permissions, std::move(onFinish), Timing{}, parent)
{
}

OnboardingView::OnboardingView(AppState &state, PermissionChecker &permissions, std::function<void()> onFinish,
                               Timing timing, QWidget *parent)
    : QWidget(parent)
    , m_state(&state)
    , m_permissions(permissions)
    , m_onFinish(std::move(onFinish))
    , m_timing(timing)
    , m_micStatus(permissions.micStatus())
    , m_trusted(permissions.isAccessibilityTrusted())
{
    setFixedSize(fixedSize);
    setAutoFillBackground(true);
    QPalette p = palette();
    p.setColor(QPalette::Window, OnboardingPalette::background());
    setPalette(p);

    m_pollTimer.setInterval(m_timing.pollInterval);
    m_pollTimer.setTimerType(Qt::CoarseTimer);
    connect(&m_pollTimer, &QTimer::timeout, this, &OnboardingView::refreshPermissions);
    // Coming back from the settings tool (or anywhere else) shows what changed there at once.
    connect(qGuiApp, &QGuiApplication::applicationStateChanged, this, [this](Qt::ApplicationState appState) {
        if (appState == Qt::ApplicationActive)
            refreshPermissions();
    });

    m_page = buildPage(m_currentStep);
    m_page->setGeometry(rect());
}

OnboardingView::~OnboardingView() = default;

void OnboardingView::advance()
{
    if (m_currentStep < stepCount)
        setStep(m_currentStep + 1);
    else
        finish();
}

void OnboardingView::goBack()
{
    if (m_currentStep > 1)
        setStep(m_currentStep - 1);
}

void OnboardingView::finish()
{
    stopPolling();
    if (m_onFinish)
        m_onFinish();
}

void OnboardingView::refreshPermissions()
{
    m_micStatus = m_permissions.micStatus();
    m_trusted = m_permissions.isAccessibilityTrusted();
    if (auto *mic = qobject_cast<OnboardingMicPage *>(m_page.data()))
        mic->setMicStatus(m_micStatus);
    if (auto *accessibility = qobject_cast<OnboardingAccessibilityPage *>(m_page.data()))
        accessibility->setTrusted(m_trusted);
    Q_EMIT permissionsRefreshed();
}

void OnboardingView::startPolling()
{
    m_pollTimer.start();
}

void OnboardingView::stopPolling()
{
    m_pollTimer.stop();
}

void OnboardingView::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    // A window that is restored from being minimised shows its content again too; the poll
    // is started anew either way.
    refreshPermissions();
    startPolling();
}

void OnboardingView::hideEvent(QHideEvent *event)
{
    QWidget::hideEvent(event);
    // Only when the guide itself goes away, not when its window is minimised.
    if (!event->spontaneous())
        stopPolling();
}

void OnboardingView::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    for (QWidget *page : {static_cast<QWidget *>(m_page.data()), static_cast<QWidget *>(m_leaving.data())})
        if (page)
            page->setGeometry(rect());
}

void OnboardingView::setStep(int step)
{
    if (step == m_currentStep)
        return;
    m_currentStep = step;
    showPage(buildPage(step));
    Q_EMIT currentStepChanged(step);
}

OnboardingPage *OnboardingView::buildPage(int step)
{
    switch (step) {
    case 1:
        return new OnboardingWelcomePage([this] { advance(); }, this);
    case 2:
        return new OnboardingMicPage(
            m_micStatus, [this] { requestMicrophone(); }, [this] { advance(); },
            [this] { m_permissions.openMicrophoneSettings(); }, this);
    case 3:
        return new OnboardingAccessibilityPage(
            m_trusted, [this] { openAccessibilitySettings(); }, [this] { advance(); }, [this] { goBack(); }, this);
    case 4:
        return new OnboardingTestPage(*m_state, [this] { goBack(); }, [this] { finish(); }, m_timing.focusDelay, this);
    default:
        return nullptr;
    }
}

void OnboardingView::showPage(OnboardingPage *page)
{
    // A page still fading out from an earlier change goes at once.
    if (m_leaving)
        m_leaving->deleteLater();
    m_leaving = m_page;
    m_page = page;

    if (m_leaving) {
        // Leaving: no more input, and the keyboard moves to the new page.
        m_leaving->setEnabled(false);
        m_leaving->setAttribute(Qt::WA_TransparentForMouseEvents);
    }
    if (!m_page)
        return;
    m_page->setGeometry(rect());
    m_page->show();
    m_page->raise();

    if (m_timing.transition <= std::chrono::milliseconds::zero()) {
        if (m_leaving)
            m_leaving->deleteLater();
        return;
    }
    fade(m_page, 0.0, 1.0, m_timing.transition, {});
    if (m_leaving) {
        m_leaving->raise(); // fades out over the incoming page
        QPointer<OnboardingPage> leaving = m_leaving;
        fade(m_leaving, 1.0, 0.0, m_timing.transition, [leaving] {
            if (leaving)
                leaving->deleteLater();
        });
    }
}

void OnboardingView::requestMicrophone()
{
    m_permissions.requestMicrophone([self = QPointer<OnboardingView>(this)](MicStatus status) {
        if (!self)
            return;
        // The answer is shown; going on stays the user's step.
        self->m_micStatus = status;
        if (auto *mic = qobject_cast<OnboardingMicPage *>(self->m_page.data()))
            mic->setMicStatus(status);
    });
}

void OnboardingView::openAccessibilitySettings()
{
    m_permissions.promptAccessibility();
    m_permissions.openAccessibilitySettings();
}
