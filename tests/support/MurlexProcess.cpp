#include "MurlexProcess.h"

#include "HelperProcess.h"

#include <QTest>

MurlexProcess::MurlexProcess(const QStringList &arguments, const QProcessEnvironment &environment)
{
    m_process.setProgram(programPath());
    m_process.setArguments(arguments);
    m_process.setProcessEnvironment(environment);
    m_process.setProcessChannelMode(QProcess::MergedChannels);
    QObject::connect(&m_process, &QProcess::readyReadStandardOutput, [this] {
        m_buffer += m_process.readAllStandardOutput();
        qsizetype end;
        while ((end = m_buffer.indexOf('\n')) >= 0) {
            m_lines.append(QString::fromUtf8(m_buffer.left(end)));
            m_buffer.remove(0, end + 1);
        }
    });
    m_process.start();
}

MurlexProcess::~MurlexProcess()
{
    if (isRunning() && !terminate(5000)) {
        m_process.kill();
        m_process.waitForFinished(5000);
    }
}

QString MurlexProcess::programPath()
{
    return HelperProcess::helperPath(QStringLiteral("murlex_e2e"));
}

std::optional<MurlexProcess::Outcome> MurlexProcess::runToEnd(const QStringList &arguments,
                                                              const QProcessEnvironment &environment, int timeoutMs)
{
    QProcess process;
    process.setProcessEnvironment(environment);
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(programPath(), arguments);
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
    for (const QString &line : m_lines)
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
    if (!isRunning())
        return m_process.exitStatus() == QProcess::NormalExit ? std::optional<int>(m_process.exitCode()) : std::nullopt;
    m_process.terminate();
    if (!QTest::qWaitFor([&] { return !isRunning(); }, timeoutMs))
        return std::nullopt;
    if (m_process.exitStatus() != QProcess::NormalExit)
        return std::nullopt;
    return m_process.exitCode();
}
