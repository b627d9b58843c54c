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

template <typename T, typename Arg>
void DictationPreferences::update(T &member, const T &value, const char *key, const QVariant &stored,
                                  void (DictationPreferences::*changed)(Arg))
{
    if (value == member)
        return;
    member = value;
    m_settings.setValue(QLatin1String(key), stored);
    m_settings.sync();
    Q_EMIT (this->*changed)(value);
}

void DictationPreferences::setShortcutMode(ShortcutMode mode)
{
    update(m_shortcutMode, mode, shortcutModeKey, QString(mode == ShortcutMode::hold ? holdValue : toggleValue),
           &DictationPreferences::shortcutModeChanged);
}

void DictationPreferences::setSaveHistory(bool save)
{
    update(m_saveHistory, save, saveHistoryKey, save, &DictationPreferences::saveHistoryChanged);
}

void DictationPreferences::setInputSource(const QString &sourceName)
{
    update(m_inputSource, sourceName, inputSourceKey, sourceName, &DictationPreferences::inputSourceChanged);
}

void DictationPreferences::setSoundCues(bool enabled)
{
    update(m_soundCues, enabled, soundCuesKey, enabled, &DictationPreferences::soundCuesChanged);
}

void DictationPreferences::setCopyOnly(bool enabled)
{
    update(m_copyOnly, enabled, copyOnlyKey, enabled, &DictationPreferences::copyOnlyChanged);
}
