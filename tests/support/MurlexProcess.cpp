#include "MurlexProcess.h"

#include <QTest>

MurlexProcess::MurlexProcess(const QStringList &arguments, const QProcessEnvironment &environment)
    : m_helper(programPath(), arguments, environment, QProcess::MergedChannels)
{
}

MurlexProcess::~MurlexProcess()
{
    // A clean end first; the helper kills what is left.
    if (isRunning())
        terminate(5000);
}

QString MurlexProcess::programPath()
{
    return HelperProcess::helperPath(QStringLiteral("murlex_e2e"));
}

std::optional<MurlexProcess::Outcome> MurlexProcess::runToEnd(const QStringList &arguments,
                                                              const QProcessEnvironment &environment, int timeoutMs,
                                                              const QString &program)
{
    QProcess process;
    process.setProcessEnvironment(environment);
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(program, arguments);
    if (!process.waitForStarted(timeoutMs))
        return std::nullopt;
    if (!QTest::qWaitFor([&] { return process.state() == QProcess::NotRunning; }, timeoutMs)) {
        process.kill();
        process.waitForFinished();
        return std::nullopt;
    }
    if (process.exitStatus() != QProcess::NormalExit)
        return std::nullopt;
    return Outcome{process.exitCode(), QString::fromUtf8(process.readAll())};
}

QStringList MurlexProcess::linesContaining(const QString &fragment) const
{
    QStringList out;
    for (const QString &line : lines())
        if (line.contains(fragment))
            out << line;
    return out;
}

bool MurlexProcess::waitForCount(const QString &fragment, int atLeast, int timeoutMs)
{
    return QTest::qWaitFor([&] { return count(fragment) >= atLeast; }, timeoutMs);
}

std::optional<int> MurlexProcess::terminate(int timeoutMs)
{
    QProcess &process = m_helper.process();
    if (isRunning()) {
        process.terminate();
        if (!QTest::qWaitFor([&] { return !isRunning(); }, timeoutMs))
            return std::nullopt;
    }
    if (process.exitStatus() != QProcess::NormalExit)
        return std::nullopt;
    return process.exitCode();
}
