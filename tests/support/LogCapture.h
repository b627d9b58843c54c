#pragma once

#include <QList>
#include <QMutex>
#include <QString>
#include <QtGlobal>

// Records every log message while alive, from any thread, so a test can assert exact lines
// with their category and level; captures may nest. Messages still reach stderr, so a failing
// test shows its log.
class LogCapture {
public:
    struct Entry {
        QString category; // e.g. "quillfen.MurlexMac.socket"
        QtMsgType type;   // QtInfoMsg for info, QtCriticalMsg for error, QtDebugMsg for debug
        QString message;
    };

    LogCapture();
    ~LogCapture();
    LogCapture(const LogCapture &) = delete;
    LogCapture &operator=(const LogCapture &) = delete;

    QList<Entry> entries() const;
    // Messages of one category (the short name, e.g. "socket", or the full category name), without
    // the timing points among its debug lines.
    QStringList messages(const QString &category) const;
    QStringList messages(const QString &category, QtMsgType type) const;
    bool contains(const QString &category, QtMsgType type, const QString &message) const;
    int count(const QString &category, QtMsgType type, const QString &message) const;
    void clear();

private:
    static void handler(QtMsgType type, const QMessageLogContext &context, const QString &message);
    static QString fullCategory(const QString &category);

    mutable QMutex m_mutex;
    QList<Entry> m_entries;
};
