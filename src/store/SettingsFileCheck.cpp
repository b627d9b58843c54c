#include "store/SettingsFileCheck.h"

#include "app/AppLogger.h"
#include "core/AppIdentity.h"

#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

#include <algorithm>

namespace {
int hexDigit(char16_t c)
{
    if (c >= u'0' && c <= u'9')
        return c - u'0';
    if (c >= u'a' && c <= u'f')
        return c - u'a' + 10;
    if (c >= u'A' && c <= u'F')
        return c - u'A' + 10;
    return -1;
}

bool isOctalDigit(char16_t c)
{
    return c >= u'0' && c <= u'7';
}

// The character a one-letter escape stands for; 0 when the reader drops the escape.
char16_t simpleEscape(char16_t c)
{
    switch (c) {
    case u'a': return u'\a';
    case u'b': return u'\b';
    case u'f': return u'\f';
    case u'n': return u'\n';
    case u'r': return u'\r';
    case u't': return u'\t';
    case u'v': return u'\v';
    case u'"': return u'"';
    case u'\'': return u'\'';
    case u'\\': return u'\\';
    case u'?': return u'?';
    default: return 0;
    }
}

// The elements of one value: quotes group, an unquoted comma separates list elements, an unquoted
// semicolon starts a comment, and escapes are decoded; \x and octal escapes take every digit that
// follows and keep the low 16 bits, as the reader does.
QStringList valueElements(QStringView value)
{
    QStringList elements;
    QString current;
    bool quoted = false;
    for (qsizetype i = 0; i < value.size(); ++i) {
        const char16_t c = value[i].unicode();
        if (c == u'"') {
            quoted = !quoted;
        } else if (!quoted && c == u';') {
            break;
        } else if (!quoted && c == u',') {
            elements << current;
            current.clear();
        } else if (c != u'\\') {
            current += QChar(c);
        } else if (++i < value.size()) {
            const char16_t escaped = value[i].unicode();
            if (escaped == u'x') {
                uint code = 0;
                while (i + 1 < value.size() && hexDigit(value[i + 1].unicode()) >= 0)
                    code = (code * 16 + uint(hexDigit(value[++i].unicode()))) & 0xFFFF;
                current += QChar(char16_t(code));
            } else if (isOctalDigit(escaped)) {
                uint code = escaped - u'0';
                while (i + 1 < value.size() && isOctalDigit(value[i + 1].unicode()))
                    code = (code * 8 + (value[++i].unicode() - u'0')) & 0xFFFF;
                current += QChar(char16_t(code));
            } else if (const char16_t plain = simpleEscape(escaped)) {
                current += QChar(plain);
            }
        }
    }
    elements << current;
    return elements;
}

// Where the key of a line ends: at the first '=' outside quotes that no backslash escapes; -1
// when there is none.
qsizetype keyEnd(QStringView line)
{
    bool quoted = false;
    for (qsizetype i = 0; i < line.size(); ++i) {
        if (line[i] == u'\\')
            ++i;
        else if (line[i] == u'"')
            quoted = !quoted;
        else if (line[i] == u'=' && !quoted)
            return i;
    }
    return -1;
}

bool isSerializedObject(const QString &element)
{
    const QString trimmed = element.trimmed();
    return trimmed.startsWith(QLatin1String("@Variant(")) || trimmed.startsWith(QLatin1String("@DateTime("));
}
} // namespace

bool SettingsFileCheck::holdsSerializedObject(const QByteArray &iniText)
{
    const QString text = QString::fromUtf8(iniText);
    QString line;
    const auto checkLine = [&line] {
        if (line.startsWith(u'['))
            return false;
        const qsizetype equals = keyEnd(line);
        if (equals < 0)
            return false;
        const QStringList elements = valueElements(QStringView(line).mid(equals + 1));
        return std::any_of(elements.begin(), elements.end(), isSerializedObject);
    };
    for (qsizetype i = 0; i <= text.size(); ++i) {
        const bool end = i == text.size();
        const QChar c = end ? QChar() : text[i];
        if (!end && c != u'\n' && c != u'\r') {
            line += c;
            continue;
        }
        // A backslash at the end of a line continues the value on the next one.
        if (!end && line.endsWith(u'\\')) {
            line.chop(1);
            if (c == u'\r' && i + 1 < text.size() && text[i + 1] == u'\n')
                ++i;
            continue;
        }
        if (checkLine())
            return true;
        line.clear();
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
