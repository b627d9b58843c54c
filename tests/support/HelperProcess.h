#pragma once

#include <QProcess>
#include <QList>
#include <QStringList>

#include <memory>
#include <optional>

// One of the small programs in tests/helpers (or any program given by path), started at once,
// whose stdout lines are collected as they come. Terminated, then killed, when destroyed.
class HelperProcess {
public:
    // With QProcess::MergedChannels, stderr lines are collected too.
    explicit HelperProcess(const QString &program, const QStringList &arguments = {},
                           const QProcessEnvironment &environment = QProcessEnvironment::systemEnvironment(),
                           QProcess::ProcessChannelMode channels = QProcess::SeparateChannels);
    ~HelperProcess();
    HelperProcess(const HelperProcess &) = delete;
    HelperProcess &operator=(const HelperProcess &) = delete;

    static QString helperPath(const QString &name);
    // Terminates the process, and kills it when it has not ended within seconds.
    static void stop(QProcess &process);
    // The clipboard_owner helper (or `program`) owning the clipboard with these formats (MIME type,
    // bytes), serving them until destroyed; null when it did not take the clipboard.
    static std::unique_ptr<HelperProcess> clipboardOwner(const QList<std::pair<QString, QByteArray>> &formats,
                                                         const QProcessEnvironment &environment = QProcessEnvironment::systemEnvironment(),
                                                         const QString &program = QStringLiteral("clipboard_owner"));

    // Waits, running the event loop, for a line starting with `prefix`; returns the rest of it.
    std::optional<QString> waitForLine(const QString &prefix, int timeoutMs = 10000);
    // The rest of every line so far that starts with `prefix`.
    QStringList linesStartingWith(const QString &prefix) const;
    // A field helper's text after its n-th change (its "text <percent-encoded>" lines), waiting for it.
    std::optional<QString> textAfterChange(int n = 1);
    QProcess &process() { return m_process; }
    const QProcess &process() const { return m_process; }
    // Every line so far.
    const QStringList &lines() const { return m_lines; }

private:
    QProcess m_process;
    QByteArray m_buffer;
    QStringList m_lines;
};
