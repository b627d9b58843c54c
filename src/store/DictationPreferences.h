#pragma once

#include <QObject>
#include <QString>

class QSettings;

// The options a person may turn on beyond the standard behaviour, each stored in the
// application's settings and off (or automatic) by default: how the shortcut is used, whether
// the dictation history is kept on disk, which microphone records, start and stop sounds, and
// putting the text on the clipboard without pasting it. Every setter stores at once and signals
// only an actual change. Lives on the main thread.
class DictationPreferences : public QObject {
    Q_OBJECT
public:
    enum class ShortcutMode {
        toggle, // one press starts, the next one ends (the default)
        hold,   // the dictation lasts while the shortcut is held
    };
    Q_ENUM(ShortcutMode)

    static constexpr const char *shortcutModeKey = "shortcutMode"; // "toggle" or "hold"
    static constexpr const char *saveHistoryKey = "saveDictationHistory";
    static constexpr const char *inputSourceKey = "inputSource"; // a source's stable name; empty: automatic
    static constexpr const char *soundCuesKey = "soundCues";
    static constexpr const char *copyOnlyKey = "copyOnly";

    // Reads and writes `settings`, which must outlive this object.
    explicit DictationPreferences(QSettings &settings, QObject *parent = nullptr);

    ShortcutMode shortcutMode() const { return m_shortcutMode; }
    bool saveHistory() const { return m_saveHistory; }
    QString inputSource() const { return m_inputSource; }
    bool soundCues() const { return m_soundCues; }
    bool copyOnly() const { return m_copyOnly; }

    void setShortcutMode(ShortcutMode mode);
    void setSaveHistory(bool save);
    void setInputSource(const QString &sourceName);
    void setSoundCues(bool enabled);
    void setCopyOnly(bool enabled);

Q_SIGNALS:
    void shortcutModeChanged(DictationPreferences::ShortcutMode mode);
    void saveHistoryChanged(bool save);
    void inputSourceChanged(const QString &sourceName);
    void soundCuesChanged(bool enabled);
    void copyOnlyChanged(bool enabled);

private:
    // Takes `value` into `member`; on a change, stores `stored` under `key` and emits `changed`.
    template <typename T, typename Arg>
    void update(T &member, const T &value, const char *key, const QVariant &stored,
                void (DictationPreferences::*changed)(Arg));

    QSettings &m_settings;
    ShortcutMode m_shortcutMode = ShortcutMode::toggle;
    bool m_saveHistory = false;
    QString m_inputSource;
    bool m_soundCues = false;
    bool m_copyOnly = false;
};
