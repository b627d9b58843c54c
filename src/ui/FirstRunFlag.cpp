#include "ui/FirstRunFlag.h"

#include <QSettings>

FirstRunFlag::FirstRunFlag(const QString &settingsPath, QObject *parent)
    : QObject(parent)
    , m_settings(settingsPath.isEmpty() ? std::make_unique<QSettings>()
                                        : std::make_unique<QSettings>(settingsPath, QSettings::IniFormat))
    , m_value(m_settings->value(QLatin1String(key), false).toBool())
{
}

FirstRunFlag::~FirstRunFlag() = default;

void FirstRunFlag::setCompletedOnboarding(bool completed)
{
    if (completed == m_value)
        return;
    m_value = completed;
    m_settings->setValue(QLatin1String(key), completed);
    m_settings->sync();
    Q_EMIT changed(completed);
}
