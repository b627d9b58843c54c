#pragma once

#include <QLockFile>
#include <QString>

#include <memory>

// Keeps the application to one running instance per user session: a lock file in the session's
// runtime directory, held for the life of this object. A lock left by an instance that died is
// taken over. The running instance is never contacted, so a second launch cannot disturb it.
class SingleInstance {
public:
    // The lock of this user's session: $XDG_RUNTIME_DIR/murlex.lock, or a per-user file in the
    // temporary directory when the session has no runtime directory.
    static QString defaultLockPath();

    explicit SingleInstance(QString lockPath = defaultLockPath());

    // True when this process now holds the lock (or already did); false when another live
    // process holds it, or the lock file cannot be written.
    bool acquire();
    bool isHeld() const { return m_held; }
    // Whether the last acquire() failed because another live process holds the lock.
    bool heldByAnother() const { return m_heldByAnother; }
    // Why acquire() failed, for the one line the caller prints.
    QString failureReason() const { return m_failureReason; }

private:
    QString m_lockPath;
    std::unique_ptr<QLockFile> m_lock;
    bool m_held = false;
    bool m_heldByAnother = false;
    QString m_failureReason;
};
