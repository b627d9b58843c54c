#include "app/SingleInstance.h"

#include "platform/Platform.h"
#include "platform/ProcessInfo.h"

#include <QDir>

QString SingleInstance::defaultLockPath()
{
    const QString runtime = QString::fromLocal8Bit(qgetenv("XDG_RUNTIME_DIR"));
    if (!runtime.isEmpty() && QDir(runtime).exists())
        return QDir(runtime).filePath(QStringLiteral("murlex.lock"));
    return QDir(QDir::tempPath()).filePath(QStringLiteral("murlex-%1.lock").arg(Platform::processInfo().userId()));
}

SingleInstance::SingleInstance(QString lockPath)
    : m_lockPath(std::move(lockPath))
    , m_lock(std::make_unique<QLockFile>(m_lockPath))
{
    // Only a dead holder makes the lock stale, never its age: the application runs for days.
    m_lock->setStaleLockTime(0);
}

bool SingleInstance::acquire()
{
    if (m_held)
        return true;
    if (m_lock->tryLock(0)) {
        m_held = true;
        m_heldByAnother = false;
        m_failureReason.clear();
        return true;
    }
    m_heldByAnother = m_lock->error() == QLockFile::LockFailedError;
    switch (m_lock->error()) {
    case QLockFile::LockFailedError: {
        qint64 pid = 0;
        QString host, app;
        m_failureReason = m_lock->getLockInfo(&pid, &host, &app)
                              ? QStringLiteral("pid %1").arg(pid)
                              : QStringLiteral("lock %1").arg(m_lockPath);
        break;
    }
    case QLockFile::PermissionError:
        m_failureReason = QStringLiteral("cannot write the lock file %1").arg(m_lockPath);
        break;
    default:
        m_failureReason = QStringLiteral("cannot take the lock file %1").arg(m_lockPath);
        break;
    }
    return false;
}
