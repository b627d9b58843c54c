#include "ui/RecordingOverlayPanel.h"

#include "app/AppLogger.h"
#include "platform/FloatingWindow.h"
#include "platform/Platform.h"
#include "ui/RecordingOverlayView.h"

#include <QGuiApplication>
#include <QPainterPath>
#include <QScreen>

RecordingOverlayPanel::RecordingOverlayPanel(AppState &state, std::unique_ptr<FloatingWindow> floating, QWidget *parent)
    : QWidget(parent, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint | Qt::WindowDoesNotAcceptFocus
                          | Qt::X11BypassWindowManagerHint | Qt::WindowTransparentForInput | Qt::NoDropShadowWindowHint)
    , m_view(new RecordingOverlayView(state, this))
    , m_floating(floating ? std::move(floating) : Platform::floatingWindow())
{
    setObjectName(QStringLiteral("RecordingOverlayPanel"));
    setWindowTitle(QStringLiteral("Murlex"));
    setAttribute(Qt::WA_TranslucentBackground);
    setAttribute(Qt::WA_ShowWithoutActivating);
    setAttribute(Qt::WA_X11DoNotAcceptFocus);
    setAttribute(Qt::WA_X11NetWmWindowTypeNotification);
    setFocusPolicy(Qt::NoFocus);
    setFixedSize(RecordingOverlayView::width, RecordingOverlayView::height);
    m_view->move(0, 0);
}

RecordingOverlayPanel::~RecordingOverlayPanel() = default;

QRect RecordingOverlayPanel::placement(const QRect &available)
{
    const QSize size(RecordingOverlayView::width, RecordingOverlayView::height);
    const int x = available.x() + (available.width() - size.width()) / 2;
    const int y = available.y() + available.height() - bottomMargin - size.height();
    return QRect(QPoint(x, y), size);
}

void RecordingOverlayPanel::moveToPlace()
{
    const QScreen *screen = QGuiApplication::primaryScreen();
    if (!screen)
        return;
    move(placement(screen->availableGeometry()).topLeft());
}

void RecordingOverlayPanel::present()
{
    // Without a compositing manager, transparent pixels would show black: cut the window to the capsule.
    if (m_floating->isCompositing()) {
        clearMask();
    } else {
        QPainterPath capsule;
        capsule.addRoundedRect(RecordingOverlayView::capsuleRect(), RecordingOverlayView::cornerRadius,
                               RecordingOverlayView::cornerRadius);
        setMask(QRegion(capsule.toFillPolygon().toPolygon()));
    }
    show();
    if (!m_floating->passPointerThrough(winId()))
        qCCritical(AppLogger::app, "overlay: the window system cannot let the pointer through the overlay");
    raise();
    m_floating->keepOnTop(winId());
}

void RecordingOverlayPanel::dismiss()
{
    m_floating->stopKeepingOnTop();
    hide();
}
