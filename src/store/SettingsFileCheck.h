#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <optional>

// Qt's settings reader turns a value spelled "@Variant(…)" or "@DateTime(…)" into an object read
// back with QDataStream, which believes the sizes written inside it: a few hand-edited bytes can
// make it reserve gigabytes before it notices the value is cut short. Murlex never writes such
// values (its settings are booleans, texts, lists of texts and byte arrays), so a file holding one
// was not written by it. Before anything reads the settings at launch, such a file (or one too
// large to be ours) is set aside, renamed next to where it was, and the application starts from
// its defaults.
class SettingsFileCheck {
public:
    SettingsFileCheck() = delete;

    // Larger than any settings file the application writes by orders of magnitude.
    static constexpr qint64 maxFileBytes = 8 * 1024 * 1024;
    // Appended to the name of a file set aside.
    static constexpr const char *rejectedSuffix = ".rejected";

    // Whether a value of this INI text, unescaped and split as Qt's reader does it (quotes,
    // backslash escapes in every spelling, lists at unquoted commas, comments, continued lines),
    // starts with a serialized object's marker.
    static bool holdsSerializedObject(const QByteArray &iniText);

    // Checks the file at `path` and sets it aside when it is unsafe to read; returns the name it
    // now has. A missing or unreadable file is left to the settings reader.
    static std::optional<QString> setAsideIfUnsafe(const QString &path);

    // The settings files of this user that the application's settings read: its own file and the
    // organisation-wide one (the system-wide files are not the user's to edit).
    static QStringList userSettingsFiles();
};
