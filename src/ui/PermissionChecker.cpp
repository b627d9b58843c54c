#include "ui/PermissionChecker.h"

#include "app/AppLogger.h"

#include <QCoro/QCoroTask>
#include <QPointer>

QString PermissionChecker::accessibilityNoticeSummary()
{
    return QStringLiteral("Murlex 无法输入文字");
}

QString PermissionChecker::accessibilityNoticeBody()
{
    return QStringLiteral("Murlex 需要在 X11 会话中运行，且 X 服务器须提供 XTEST 扩展，"
                          "才能响应全局快捷键并把文字输入到其他应用。请在登录界面选择 X11（Xorg）会话后重新登录。");
}

PermissionChecker::PermissionChecker(Services services, QObject *parent)
    : QObject(parent), m_services(std::move(services))
{
}

PermissionChecker::~PermissionChecker() = default;

PermissionChecker::MicStatus PermissionChecker::micStatus()
{
    return m_services.microphone->status();
}

void PermissionChecker::requestMicrophone(std::function<void(MicStatus)> completion)
{
    [](QPointer<PermissionChecker> self, std::shared_ptr<MicrophonePermission> microphone,
       std::function<void(MicStatus)> completion) -> QCoro::Task<> {
        try {
            // The answer itself is not used: the status is read again once it is in.
            [[maybe_unused]] const MicStatus answer = co_await microphone->request();
        } catch (const std::exception &e) {
            qCCritical(AppLogger::app, "microphone request failed unexpectedly: %s", e.what());
        }
        if (!self)
            co_return;
        QMetaObject::invokeMethod(
            self.data(),
            [self, completion = std::move(completion)] {
                if (self)
                    completion(self->micStatus());
            },
            Qt::QueuedConnection);
    }(this, m_services.microphone, std::move(completion));
}

bool PermissionChecker::isAccessibilityTrusted()
{
    return m_services.keys->isTrusted();
}

void PermissionChecker::promptAccessibility()
{
    if (m_services.keys->isTrusted())
        return;
    m_services.notifications->notify(accessibilityNoticeSummary(), accessibilityNoticeBody());
}

void PermissionChecker::openMicrophoneSettings()
{
    m_services.settings->open(SystemSettings::Pane::microphone);
}

void PermissionChecker::openAccessibilitySettings()
{
    m_services.settings->open(SystemSettings::Pane::accessibility);
}
