#include "HelperProcess.h"

#include <QTest>

HelperProcess::HelperProcess(const QString &program, const QStringList &arguments,
                             const QProcessEnvironment &environment, QProcess::ProcessChannelMode channels)
{
    m_process.setProcessChannelMode(channels);
    m_process.setProgram(program.contains(QLatin1Char('/')) ? program : helperPath(program));
    m_process.setArguments(arguments);
    m_process.setProcessEnvironment(environment);
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

HelperProcess::~HelperProcess()
{
    stop(m_process);
}

void HelperProcess::stop(QProcess &process)
{
    if (process.state() == QProcess::NotRunning)
        return;
    process.terminate();
    if (!process.waitForFinished(5000)) {
        process.kill();
        process.waitForFinished(5000);
    }
}

std::unique_ptr<HelperProcess> HelperProcess::clipboardOwner(const QList<std::pair<QString, QByteArray>> &formats,
                                                             const QProcessEnvironment &environment, const QString &program)
{
    QStringList arguments;
    for (const auto &[type, bytes] : formats)
        arguments << type + u'=' + QString::fromLatin1(bytes.toHex());
    auto owner = std::make_unique<HelperProcess>(program, arguments, environment);
    return owner->waitForLine(QStringLiteral("owned")) ? std::move(owner) : nullptr;
}

QString HelperProcess::helperPath(const QString &name)
{
    return QStringLiteral(MURLEX_TEST_HELPERS_DIR "/") + name;
}

std::optional<QString> HelperProcess::waitForLine(const QString &prefix, int timeoutMs)
{
    std::optional<QString> found;
    (void)QTest::qWaitFor([&] {
        const QStringList matches = linesStartingWith(prefix);
        if (!matches.isEmpty())
            found = matches.first();
        return found.has_value();
    }, timeoutMs);
    return found;
}

QStringList HelperProcess::linesStartingWith(const QString &prefix) const
{
    QStringList out;
    for (const QString &line : m_lines)
        if (line.startsWith(prefix))
            out << line.mid(prefix.size());
    return out;
}

std::optional<QString> HelperProcess::textAfterChange(int n)
{
    (void)QTest::qWaitFor([&] { return linesStartingWith(QStringLiteral("text ")).size() >= n; }, 10000);
    const QStringList texts = linesStartingWith(QStringLiteral("text "));
    return texts.size() >= n ? std::optional(QString::fromUtf8(QByteArray::fromPercentEncoding(texts.at(n - 1).toUtf8())))
                             : std::nullopt;
}
