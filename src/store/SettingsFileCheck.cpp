#include "store/SettingsFileCheck.h"

#include "app/AppLogger.h"
#include "core/AppIdentity.h"

#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

#include <algorithm>

namespace {
int hexDigit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

bool isOctalDigit(char c)
{
    return c >= '0' && c <= '7';
}

bool isLineBreak(char c)
{
    return c == '\n' || c == '\r';
}

bool isBlank(char c)
{
    return c == ' ' || c == '\t';
}

// The character a one-letter escape stands for; 0 when the reader drops the escape.
char16_t simpleEscape(char c)
{
    switch (c) {
    case 'a': return u'\a';
    case 'b': return u'\b';
    case 'f': return u'\f';
    case 'n': return u'\n';
    case 'r': return u'\r';
    case 't': return u'\t';
    case 'v': return u'\v';
    case '"': return u'"';
    case '\'': return u'\'';
    case '\\': return u'\\';
    case '?': return u'?';
    default: return 0;
    }
}

// The longest marker; only that much of an element's start is ever compared.
constexpr qsizetype markerLength = 10;

bool isSerializedObject(const QString &elementStart)
{
    const QString trimmed = elementStart.trimmed();
    return trimmed.startsWith(QLatin1String("@Variant(")) || trimmed.startsWith(QLatin1String("@DateTime("));
}

// Whether an element of `value` (what follows a key's '=' up to the end of its line) starts with
// a marker once unescaped as the reader does: blanks before an element and after a closing quote
// are skipped, quotes group and are dropped, an unquoted comma starts the next element, a
// backslash escapes one character (\x and octal escapes take every digit that follows and keep
// the low 16 bits; \x without a digit and unknown escapes stand for nothing; an escaped line
// break continues the value).
bool valueHoldsMarker(QByteArrayView value)
{
    QString element;
    bool quoted = false;
    bool skipBlanks = true;
    const auto append = [&element](char16_t c) {
        if (element.size() < markerLength)
            element += QChar(c);
    };
    for (qsizetype i = 0; i < value.size();) {
        const char c = value[i];
        if (skipBlanks && isBlank(c)) {
            ++i;
            continue;
        }
        skipBlanks = false;
        ++i;
        if (c == '"') {
            quoted = !quoted;
            skipBlanks = !quoted;
        } else if (c == ',' && !quoted) {
            if (isSerializedObject(element))
                return true;
            element.clear();
            skipBlanks = true;
        } else if (c != '\\') {
            // A byte outside ASCII is part of a character no marker holds.
            append(uchar(c) < 0x80 ? char16_t(c) : u'\uFFFD');
        } else if (i < value.size()) {
            const char escaped = value[i++];
            if (escaped == 'x') {
                if (i < value.size() && hexDigit(value[i]) >= 0) {
                    uint code = 0;
                    while (i < value.size() && hexDigit(value[i]) >= 0)
                        code = (code * 16 + uint(hexDigit(value[i++]))) & 0xFFFF;
                    append(char16_t(code));
                }
            } else if (isOctalDigit(escaped)) {
                uint code = uint(escaped - '0');
                while (i < value.size() && isOctalDigit(value[i]))
                    code = (code * 8 + uint(value[i++] - '0')) & 0xFFFF;
                append(char16_t(code));
            } else if (isLineBreak(escaped)) {
                if (i < value.size() && isLineBreak(value[i]) && value[i] != escaped)
                    ++i;
            } else if (const char16_t plain = simpleEscape(escaped)) {
                append(plain);
            }
        }
    }
    return isSerializedObject(element);
}

// One logical line of the file, as the reader splits it: a line break ends it only outside
// quotes, an escaped line break continues it, and an unquoted ';' ends it (the rest of the
// physical line is a comment, as is every line starting with ';'). The key ends at `equals`, the
// first '=' outside quotes that no backslash escapes (-1 when there is none).
struct LogicalLine {
    qsizetype start = 0;
    qsizetype end = 0;
    qsizetype equals = -1;
};

LogicalLine readLine(QByteArrayView text, qsizetype from)
{
    LogicalLine line;
    qsizetype i = from;
    while (i < text.size() && (isBlank(text[i]) || isLineBreak(text[i]) || text[i] == '\f' || text[i] == '\v'))
        ++i;
    // Comment lines run to the next line break, quotes and backslashes included.
    while (i < text.size() && text[i] == ';') {
        while (i < text.size() && !isLineBreak(text[i]))
            ++i;
        while (i < text.size() && (isBlank(text[i]) || isLineBreak(text[i]) || text[i] == '\f' || text[i] == '\v'))
            ++i;
    }
    line.start = i;
    bool quoted = false;
    for (; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '=') {
            if (!quoted && line.equals < 0)
                line.equals = i;
        } else if (c == '"') {
            quoted = !quoted;
        } else if (c == '\\') {
            if (i + 1 < text.size()) {
                ++i;
                if (isLineBreak(text[i]) && i + 1 < text.size() && isLineBreak(text[i + 1]) && text[i + 1] != text[i])
                    ++i;
            }
        } else if (!quoted && (isLineBreak(c) || c == ';')) {
            break;
        }
    }
    line.end = i;
    return line;
}
} // namespace

bool SettingsFileCheck::holdsSerializedObject(const QByteArray &iniText)
{
    const QByteArrayView text(iniText);
    qsizetype pos = text.startsWith("\xEF\xBB\xBF") ? 3 : 0;
    while (pos < text.size()) {
        const LogicalLine line = readLine(text, pos);
        pos = line.end;
        if (line.start >= line.end || text[line.start] == '[')
            continue;
        if (line.equals >= 0 && valueHoldsMarker(text.sliced(line.equals + 1, line.end - line.equals - 1)))
            return true;
    }
    return false;
}

std::optional<QString> SettingsFileCheck::setAsideIfUnsafe(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    const bool tooLarge = file.size() > maxFileBytes;
    const bool unsafe = tooLarge || holdsSerializedObject(file.readAll());
    file.close();
    if (!unsafe)
        return std::nullopt;

    // Never over an earlier copy: .rejected, .rejected-2, .rejected-3 ...
    QString aside = path + QLatin1String(rejectedSuffix);
    for (int copy = 2; QFileInfo::exists(aside); ++copy)
        aside = path + QLatin1String(rejectedSuffix) + QLatin1Char('-') + QString::number(copy);
    if (!file.rename(aside)) {
        qCCritical(AppLogger::app, "Settings file %s is unsafe to read and cannot be moved aside: %s",
                   qPrintable(path), qPrintable(file.errorString()));
        return std::nullopt;
    }
    qCWarning(AppLogger::app, "Settings file %s %s; moved it to %s and starting from defaults", qPrintable(path),
              tooLarge ? "is too large to be ours" : "holds a serialized object Murlex never writes",
              qPrintable(aside));
    return aside;
}

QStringList SettingsFileCheck::userSettingsFiles()
{
    const QString configHome = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
    const QString organization = QLatin1String(AppIdentity::organization);
    return {configHome + QLatin1Char('/') + organization + QLatin1Char('/') +
                QLatin1String(AppIdentity::applicationName) + QLatin1String(".conf"),
            configHome + QLatin1Char('/') + organization + QLatin1String(".conf")};
}
