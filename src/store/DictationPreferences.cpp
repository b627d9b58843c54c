#include "store/DictationPreferences.h"

#include <QSettings>

namespace {
constexpr QLatin1StringView holdValue("hold");
constexpr QLatin1StringView toggleValue("toggle");
} // namespace

DictationPreferences::DictationPreferences(QSettings &settings, QObject *parent)
    : QObject(parent)
    , m_settings(settings)
{
    // Anything but a known spelling reads as the default.
    m_shortcutMode = m_settings.value(QLatin1String(shortcutModeKey)).toString() == holdValue ? ShortcutMode::hold
                                                                                             : ShortcutMode::toggle;
    m_saveHistory = m_settings.value(QLatin1String(saveHistoryKey), false).toBool();
    m_inputSource = m_settings.value(QLatin1String(inputSourceKey)).toString();
    m_soundCues = m_settings.value(QLatin1String(soundCuesKey), false).toBool();
    m_copyOnly = m_settings.value(QLatin1String(copyOnlyKey), false).toBool();
}

void DictationPreferences::store(const char *key, const QVariant &value)
{
    m_settings.setValue(QLatin1String(key), value);
    m_settings.sync();
}

void DictationPreferences::setShortcutMode(ShortcutMode mode)
{
    if (mode == m_shortcutMode)
        return;
    m_shortcutMode = mode;
    store(shortcutModeKey, QString(mode == ShortcutMode::hold ? holdValue : toggleValue));
    Q_EMIT shortcutModeChanged(mode);
}

void DictationPreferences::setSaveHistory(bool save)
{
    if (save == m_saveHistory)
        return;
    m_saveHistory = save;
    store(saveHistoryKey, save);
    Q_EMIT saveHistoryChanged(save);
}

void DictationPreferences::setInputSource(const QString &sourceName)
{
    if (sourceName == m_inputSource)
        return;
    m_inputSource = sourceName;
    store(inputSourceKey, sourceName);
    Q_EMIT inputSourceChanged(sourceName);
}

void DictationPreferences::setSoundCues(bool enabled)
{
    if (enabled == m_soundCues)
        return;
    m_soundCues = enabled;
    store(soundCuesKey, enabled);
    Q_EMIT soundCuesChanged(enabled);
}

void DictationPreferences::setCopyOnly(bool enabled)
{
    if (enabled == m_copyOnly)
        return;
    m_copyOnly = enabled;
    store(copyOnlyKey, enabled);
    Q_EMIT copyOnlyChanged(enabled);
}
