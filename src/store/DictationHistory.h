#pragma once

#include <QDateTime>
#include <QList>
#include <QObject>
#include <QString>

#include <optional>

class DictationPreferences;

// The last polished texts, newest first: kept in memory for the whole run and, while the person
// allows it (DictationPreferences::saveHistory), also in a file readable by its owner alone.
// Only texts are kept, never audio. The file is rewritten whole on every change (a crash leaves the
// old or the new version, never half of one) and deleted as soon as the option is turned off.
// Reading tolerates any file: one too large is ignored whole, entries that do not read as
// entries are skipped. Lives on the main thread.
class DictationHistory : public QObject {
    Q_OBJECT
public:
    // How many texts are kept.
    static constexpr int capacity = 50;
    // Longer texts stay in memory but are not written to the file (nor read from it).
    static constexpr qsizetype maxFileTextLength = 10000;
    // A larger file is not read at all.
    static constexpr qint64 maxFileSize = 4 * 1024 * 1024;

    // What happened to the text when it was delivered.
    enum class Delivery {
        pasted, // into the focused field
        copied, // onto the clipboard only (copy only)
        failed, // the paste did not go through
    };
    Q_ENUM(Delivery)

    struct Entry {
        quint64 id = 0; // unique within this run
        QString text;
        QDateTime time; // UTC
        qsizetype length = 0; // user-perceived characters
        Delivery delivery = Delivery::pasted;
    };

    // Keeps the file at `filePath` (see defaultFilePath()) while `preferences` allow it; both must
    // outlive this object. Reads the file when they allow it now.
    DictationHistory(DictationPreferences &preferences, QString filePath = defaultFilePath(),
                     QObject *parent = nullptr);

    // <data directory>/dictation-history.json
    static QString defaultFilePath();
    QString filePath() const { return m_filePath; }

    // Newest first.
    const QList<Entry> &entries() const { return m_entries; }
    std::optional<Entry> newest() const;
    bool isEmpty() const { return m_entries.isEmpty(); }

    // Adds a delivered text as the newest entry (an empty one is not kept); the oldest beyond
    // capacity goes.
    void record(const QString &text, Delivery delivery);
    // Removes the entry with `id`; false when there is none.
    bool remove(quint64 id);
    void clear();

Q_SIGNALS:
    // The entries changed (added, removed, cleared).
    void changed();

private:
    void load();
    void save();
    void deleteFile();
    bool prepareFile();
    void changedNow();

    DictationPreferences &m_preferences;
    const QString m_filePath;
    QList<Entry> m_entries;
    quint64 m_nextId = 1;
};
