#pragma once

// Shared by the fuzz targets: a quiet Qt (log lines are still formatted, then dropped, so the
// code that builds them runs), and a check that stops the run with a message when a property of
// the code under test does not hold.

#include <QByteArray>
#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QString>
#include <QtGlobal>

#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace FuzzSupport {

inline void dropMessage(QtMsgType, const QMessageLogContext &, const QString &message)
{
    // Formatting the text is what the product does; printing it at a hundred thousand inputs a
    // second would only slow the run down.
    (void)message.size();
}

inline void quietQt()
{
    qInstallMessageHandler(&dropMessage);
}

inline QByteArray bytes(const uint8_t *data, size_t size)
{
    return QByteArray(reinterpret_cast<const char *>(data), qsizetype(size));
}

// A directory of its own for the files a target writes, in memory where the system offers it:
// on a disk file system rewriting a truncated file waits for the disk at every input.
// Removed when the process exits.
inline QString scratchDirectory()
{
    static const QTemporaryDir directory([] {
        const QFileInfo shm(QStringLiteral("/dev/shm"));
        const QString base = shm.isDir() && shm.isWritable() ? shm.filePath() : QDir::tempPath();
        return base + QStringLiteral("/murlex-fuzz-XXXXXX");
    }());
    if (!directory.isValid())
        std::abort();
    return directory.path();
}

[[noreturn]] inline void fail(const char *what)
{
    std::fprintf(stderr, "fuzz property violated: %s\n", what);
    std::abort();
}

inline void check(bool holds, const char *what)
{
    if (!holds)
        fail(what);
}

} // namespace FuzzSupport
