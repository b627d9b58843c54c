#include "core/ExactJson.h"

namespace {
const QByteArray byteOrderMark("\xEF\xBB\xBF");
const QByteArray byteOrderMarkEscape("\\ufeff");

// The same JSON with every U+FEFF inside a string written as its escape. Outside strings the bytes
// are left alone: there they are an error, or the document's leading mark, either way as before.
QByteArray escapeMarksInStrings(const QByteArray &json)
{
    QByteArray escaped;
    bool inString = false;
    bool escapeNext = false;
    for (qsizetype i = 0; i < json.size(); ++i) {
        const char byte = json.at(i);
        if (inString && !escapeNext && json.sliced(i).startsWith(byteOrderMark)) {
            if (escaped.isEmpty())
                escaped = json.first(i);
            escaped += byteOrderMarkEscape;
            i += byteOrderMark.size() - 1;
            continue;
        }
        if (inString) {
            if (escapeNext)
                escapeNext = false;
            else if (byte == '\\')
                escapeNext = true;
            else if (byte == '"')
                inString = false;
        } else if (byte == '"') {
            inString = true;
        }
        if (!escaped.isEmpty())
            escaped += byte;
    }
    return escaped.isEmpty() ? json : escaped;
}
} // namespace

QJsonDocument parseJsonExactly(const QByteArray &json, QJsonParseError *error)
{
    if (!json.contains(byteOrderMark))
        return QJsonDocument::fromJson(json, error);
    return QJsonDocument::fromJson(escapeMarksInStrings(json), error);
}
