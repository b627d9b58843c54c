#pragma once

#include <QProcess>
#include <QStringList>

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

    // Waits, running the event loop, for a line starting with `prefix`; returns the rest of it.
    std::optional<QString> waitForLine(const QString &prefix, int timeoutMs = 10000);
    // The rest of every line so far that starts with `prefix`.
    QStringList linesStartingWith(const QString &prefix) const;
    QProcess &process() { return m_process; }
    const QProcess &process() const { return m_process; }
    // Every line so far.
    const QStringList &lines() const { return m_lines; }

private:
    QProcess m_process;
    QByteArray m_buffer;
    QStringList m_lines;
};
