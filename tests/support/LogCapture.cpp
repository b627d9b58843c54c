#include "LogCapture.h"

#include <QMutexLocker>

namespace {
LogCapture *g_active = nullptr;
QtMessageHandler g_previous = nullptr;
} // namespace

LogCapture::LogCapture()
{
    g_active = this;
    m_previous = qInstallMessageHandler(&LogCapture::handler);
    g_previous = m_previous;
}

LogCapture::~LogCapture()
{
    qInstallMessageHandler(m_previous);
    g_active = nullptr;
}

void LogCapture::handler(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    if (LogCapture *self = g_active) {
        QMutexLocker lock(&self->m_mutex);
        self->m_entries.append({QString::fromUtf8(context.category ? context.category : "default"), type, message});
    }
    if (g_previous)
        g_previous(type, context, message);
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
