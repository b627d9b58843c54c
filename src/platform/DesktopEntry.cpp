#include "platform/DesktopEntry.h"

#include <algorithm>

namespace {
QString escapeString(const QString &value)
{
    QString out = value;
    out.replace(u'\\', QLatin1String("\\\\"));
    return out;
}
} // namespace

namespace DesktopEntry {

QHash<QString, QString> values(const QByteArray &content)
{
    QHash<QString, QString> values;
    bool inGroup = false;
    for (const QByteArray &rawLine : content.split('\n')) {
        const QString line = QString::fromUtf8(rawLine).trimmed();
        if (line.isEmpty() || line.startsWith(u'#'))
            continue;
        if (line.startsWith(u'[')) {
            inGroup = line == QLatin1String("[Desktop Entry]");
            continue;
        }
        const qsizetype eq = line.indexOf(u'=');
        if (!inGroup || eq <= 0)
            continue;
        const QString key = line.left(eq).trimmed();
        const QString raw = line.mid(eq + 1).trimmed();
        QString value;
        for (qsizetype i = 0; i < raw.size(); ++i) {
            if (raw.at(i) == u'\\' && i + 1 < raw.size()) {
                const QChar next = raw.at(++i);
                value += next == u's' ? QChar(u' ') : next == u'n' ? QChar(u'\n') : next == u't' ? QChar(u'\t')
                       : next == u'r' ? QChar(u'\r') : next;
            } else {
                value += raw.at(i);
            }
        }
        if (!values.contains(key))
            values.insert(key, value);
    }
    return values;
}

QString execValue(const QString &program)
{
    static const QString reserved = QStringLiteral(" \t\n\"'\\><~|&;$*?#()`");
    QString arg = program;
    if (std::any_of(arg.cbegin(), arg.cend(), [](QChar c) { return reserved.contains(c); })) {
        QString quoted = QStringLiteral("\"");
        for (const QChar c : std::as_const(arg)) {
            if (c == u'"' || c == u'`' || c == u'$' || c == u'\\')
                quoted += u'\\';
            quoted += c;
        }
        arg = quoted + u'"';
    }
    arg.replace(u'%', QLatin1String("%%"));
    return escapeString(arg);
}

QString programOfExec(const QString &exec)
{
    QString program;
    qsizetype i = 0;
    while (i < exec.size() && exec.at(i).isSpace())
        ++i;
    if (i < exec.size() && exec.at(i) == u'"') {
        for (++i; i < exec.size(); ++i) {
            const QChar c = exec.at(i);
            if (c == u'"')
                break;
            if (c == u'\\' && i + 1 < exec.size())
                program += exec.at(++i);
            else
                program += c;
        }
        if (i >= exec.size())
            return {}; // unterminated quote
    } else {
        for (; i < exec.size() && !exec.at(i).isSpace(); ++i)
            program += exec.at(i);
    }
    program.replace(QLatin1String("%%"), QLatin1String("%"));
    return program;
}

} // namespace DesktopEntry
