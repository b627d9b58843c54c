#include "platform/linux/portal/RemoteDesktopKeySynthesis.h"

#include "app/AppLogger.h"
#include "platform/DesktopNotifications.h"
#include "platform/Platform.h"

#include <QCoreApplication>
#include <QPointer>

#include <qcoro/qcorosignal.h>

RemoteDesktopKeySynthesis::RemoteDesktopKeySynthesis(RemoteDesktopSession::Options options,
                                                     std::unique_ptr<DesktopNotifications> notifications)
    : RemoteDesktopKeySynthesis(std::make_shared<RemoteDesktopSession>(std::move(options)), std::move(notifications))
{
}

RemoteDesktopKeySynthesis::RemoteDesktopKeySynthesis(std::shared_ptr<RemoteDesktopSession> session,
                                                     std::unique_ptr<DesktopNotifications> notifications)
    : m_session(std::move(session))
    , m_notifications(std::move(notifications))
{
    // Ended when Murlex quits, even where this object outlives the event loop.
    if (QCoreApplication *application = QCoreApplication::instance())
        connect(application, &QCoreApplication::aboutToQuit, m_session.get(), &RemoteDesktopSession::close);
}

RemoteDesktopKeySynthesis::~RemoteDesktopKeySynthesis() = default;

bool RemoteDesktopKeySynthesis::reachesFocusedApplication()
{
    if (m_declined)
        return false;
    if (m_portal == Portal::unknown) {
        const std::optional<DesktopSession> probed = Platform::probedDesktopSession();
        if (!probed)
            return false;
        m_portal = probed->remoteDesktopPortal > 0 ? Portal::offered : Portal::absent;
    }
    return m_portal == Portal::offered;
}

QCoro::Task<> RemoteDesktopKeySynthesis::prepare()
{
    QPointer<RemoteDesktopKeySynthesis> self(this);
    // A start under way (an earlier injection's) is awaited, not doubled.
    while (m_starting) {
        co_await qCoro(this, &RemoteDesktopKeySynthesis::prepared);
        if (!self)
            co_return;
    }
    if (m_declined || m_session->isStarted())
        co_return;
    m_starting = true;
    QCoro::Task<> preparing = prepareNow();
    co_await std::move(preparing);
    if (!self)
        co_return;
    m_starting = false;
    Q_EMIT prepared();
}

QCoro::Task<> RemoteDesktopKeySynthesis::prepareNow()
{
    QPointer<RemoteDesktopKeySynthesis> self(this);
    // The probe's answer where there is one: a portal found absent is not asked again at every paste.
    if (m_portal == Portal::unknown)
        reachesFocusedApplication();
    if (m_portal == Portal::absent)
        co_return;
    if (m_portal == Portal::unknown) {
        QCoro::Task<std::optional<uint>> asking = RemoteDesktopSession::portalVersion(m_session->options().bus, m_session->options().timeouts.call);
        const std::optional<uint> version = co_await std::move(asking);
        if (!self)
            co_return;
        m_portal = version ? Portal::offered : Portal::absent;
        if (!version) {
            qCInfo(AppLogger::injection, "the desktop portal offers no RemoteDesktop session: texts stay on the clipboard");
            co_return;
        }
    }

    QCoro::Task<RemoteDesktopSession::Outcome> starting = m_session->start();
    const RemoteDesktopSession::Outcome outcome = co_await std::move(starting);
    if (!self || outcome == RemoteDesktopSession::Outcome::started)
        co_return;
    m_declined = true;
    const bool refused = outcome == RemoteDesktopSession::Outcome::refused;
    qCWarning(AppLogger::injection, "no RemoteDesktop keyboard access (%s): texts stay on the clipboard for the rest "
                                    "of this run",
              refused ? "declined" : "the portal failed");
    if (m_notifications)
        m_notifications->notify(QStringLiteral("Murlex 无法自动粘贴"),
                                refused ? QStringLiteral("未获得远程桌面的键盘权限：识别的文字会留在剪贴板上，请按 Ctrl+V 粘贴。"
                                                         "下次启动 Murlex 时会再次询问。")
                                        : QStringLiteral("远程桌面会话未能建立：识别的文字会留在剪贴板上，请按 Ctrl+V 粘贴。"));
}

void RemoteDesktopKeySynthesis::sendPasteChord(PasteChord chord)
{
    if (!m_session->isStarted()) {
        qCWarning(AppLogger::injection, "RemoteDesktop: no session, the paste chord is not sent");
        return;
    }
    const bool terminal = chord == PasteChord::terminal;
    m_session->notifyKeycode(keyLeftControl, true);
    if (terminal)
        m_session->notifyKeycode(keyLeftShift, true);
    m_session->notifyKeycode(keyV, true);
    m_session->notifyKeycode(keyV, false);
    if (terminal)
        m_session->notifyKeycode(keyLeftShift, false);
    m_session->notifyKeycode(keyLeftControl, false);
}
