#include "WaylandClipboardReader.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QProcess>

namespace {

std::optional<QByteArray> wlPaste(const QProcessEnvironment &session, const QStringList &arguments)
{
    QProcess process;
    process.setProcessEnvironment(session);
    process.start(QStringLiteral("wl-paste"), arguments);
    QDeadlineTimer deadline(5000);
    while (process.state() != QProcess::NotRunning && !deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    if (process.state() != QProcess::NotRunning) {
        process.kill();
        process.waitForFinished();
        return std::nullopt;
    }
    if (process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0)
        return std::nullopt;
    return process.readAllStandardOutput();
}

} // namespace

std::optional<QStringList> WaylandClipboardReader::types(const QProcessEnvironment &session)
{
    const std::optional<QByteArray> out = wlPaste(session, {QStringLiteral("--list-types")});
    if (!out)
        return std::nullopt;
    return QString::fromUtf8(*out).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

std::optional<QByteArray> WaylandClipboardReader::read(const QProcessEnvironment &session, const QString &mimeType)
{
    return wlPaste(session, {QStringLiteral("--no-newline"), QStringLiteral("--type"), mimeType});
}
