#include "LogCapture.h"

#include <QMutexLocker>

namespace {
// Every capture alive records every message; the handler that was there before the first one
// still gets each message, once.
QMutex g_lock;
QList<LogCapture *> g_active;
QtMessageHandler g_original = nullptr;
} // namespace

LogCapture::LogCapture()
{
    QMutexLocker lock(&g_lock);
    if (g_active.isEmpty())
        g_original = qInstallMessageHandler(&LogCapture::handler);
    g_active.append(this);
}

LogCapture::~LogCapture()
{
    QMutexLocker lock(&g_lock);
    g_active.removeOne(this);
    if (g_active.isEmpty())
        qInstallMessageHandler(g_original);
}

void LogCapture::handler(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    const Entry entry{QString::fromUtf8(context.category ? context.category : "default"), type, message};
    QtMessageHandler original;
    {
        QMutexLocker lock(&g_lock);
        for (LogCapture *capture : std::as_const(g_active)) {
            QMutexLocker entries(&capture->m_mutex);
            capture->m_entries.append(entry);
        }
        original = g_original;
    }
    if (original)
        original(type, context, message);
}

QString LogCapture::fullCategory(const QString &category)
{
    return category.contains(QLatin1Char('.')) ? category : QStringLiteral("quillfen.MurlexMac.") + category;
}

QList<LogCapture::Entry> LogCapture::entries() const
{
    QMutexLocker lock(&m_mutex);
    return m_entries;
}

QStringList LogCapture::messages(const QString &category) const
{
    const QString full = fullCategory(category);
    QStringList out;
    for (const Entry &e : entries())
        // The timing points ("timing: <point> <ns>") go through the categories' debug lines; a
        // category's account of what happened leaves them out (ask for debug lines to see them).
        if (e.category == full && !(e.type == QtDebugMsg && e.message.startsWith(QLatin1String("timing: "))))
            out << e.message;
    return out;
}

QStringList LogCapture::messages(const QString &category, QtMsgType type) const
{
    const QString full = fullCategory(category);
    QStringList out;
    for (const Entry &e : entries())
        if (e.category == full && e.type == type)
            out << e.message;
    return out;
}

bool LogCapture::contains(const QString &category, QtMsgType type, const QString &message) const
{
    return count(category, type, message) > 0;
}

int LogCapture::count(const QString &category, QtMsgType type, const QString &message) const
{
    return int(messages(category, type).count(message));
}

void LogCapture::clear()
{
    QMutexLocker lock(&m_mutex);
    m_entries.clear();
}
