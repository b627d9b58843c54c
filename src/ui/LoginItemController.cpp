#include "ui/LoginItemController.h"

#include "app/AppLogger.h"

LoginItemController::LoginItemController(std::unique_ptr<LoginItemService> service, QObject *parent)
    : QObject(parent), m_service(std::move(service))
{
    refresh();
}

LoginItemController::~LoginItemController() = default;

void LoginItemController::refresh()
{
    const bool installable = m_service->isInstallableLocation();
    const bool registered = m_service->status() == LoginItemService::Status::enabled;
    if (installable != m_isInstallableLocation) {
        m_isInstallableLocation = installable;
        Q_EMIT isInstallableLocationChanged(installable);
    }
    if (registered != m_isRegistered) {
        m_isRegistered = registered;
        Q_EMIT isRegisteredChanged(registered);
    }
}

void LoginItemController::setEnabled(bool enabled)
{
    if (enabled && !m_isInstallableLocation) {
        qCCritical(AppLogger::app, "拒绝注册登录项:不在 %s 下", qUtf8Printable(m_service->installLocation()));
        return;
    }
    const std::optional<QString> failure = enabled ? m_service->registerItem() : m_service->unregisterItem();
    if (failure) {
        qCCritical(AppLogger::app, "登录项操作失败:%s", qUtf8Printable(*failure));
        return;
    }
    refresh();
}
