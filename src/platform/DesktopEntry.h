#pragma once

#include <QHash>
#include <QByteArray>
#include <QString>

// Reading and writing the text of freedesktop desktop entries (.desktop files).
namespace DesktopEntry {
// The values of the [Desktop Entry] group, string escapes (\s \n \t \r \\) undone; the first of
// a repeated key wins.
QHash<QString, QString> values(const QByteArray &content);
// The Exec value for a program path, quoted and escaped as desktop entries require.
QString execValue(const QString &program);
// The program an Exec value starts (its first argument, unquoted); empty when malformed.
QString programOfExec(const QString &exec);
} // namespace DesktopEntry
