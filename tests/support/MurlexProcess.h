#pragma once

#include "HelperProcess.h"

#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

#include <optional>

// The application as a user runs it (tests/helpers/murlex_e2e: the shipped main over the test
// transport), with everything it logs collected line by line as it comes (stdout and stderr).
class MurlexProcess {
public:
    MurlexProcess(const QStringList &arguments, const QProcessEnvironment &environment);
    // Terminates the process if it still runs.
    ~MurlexProcess();
    MurlexProcess(const MurlexProcess &) = delete;
    MurlexProcess &operator=(const MurlexProcess &) = delete;

    static QString programPath();

    // Runs the program (this one unless another is named, e.g. the shipped murlex) to its end and
    // returns its whole output, or none when it crashed or did not end within the time.
    struct Outcome {
        int exitCode = -1;
        QString output;
    };
    static std::optional<Outcome> runToEnd(const QStringList &arguments, const QProcessEnvironment &environment,
                                           int timeoutMs = 20000, const QString &program = programPath());
    // The shipped murlex of this build (not the test transport's), run to its end.
    static std::optional<Outcome> runShipped(const QStringList &arguments, const QProcessEnvironment &environment)
    {
        return runToEnd(arguments, environment, 20000, QStringLiteral(MURLEX_TEST_HELPERS_DIR "/../src/murlex"));
    }

    QProcess &process() { return m_helper.process(); }
    qint64 pid() const { return m_helper.process().processId(); }
    bool isRunning() const { return m_helper.process().state() != QProcess::NotRunning; }

    // Every line so far.
    const QStringList &lines() const { return m_helper.lines(); }
    // The lines that contain `fragment`.
    QStringList linesContaining(const QString &fragment) const;
    int count(const QString &fragment) const { return int(linesContaining(fragment).size()); }
    // Waits, running the event loop, until at least `atLeast` lines contain `fragment`.
    bool waitForCount(const QString &fragment, int atLeast, int timeoutMs = 20000);

    // SIGTERM, then waits for the end; the exit code when the process ended by itself.
    std::optional<int> terminate(int timeoutMs = 20000);

private:
    HelperProcess m_helper;
};
