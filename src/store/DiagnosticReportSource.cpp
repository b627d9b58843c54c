#include "store/DiagnosticReportSource.h"

#include "app/AppLogger.h"
#include "core/AppIdentity.h"

#include <QJsonArray>

namespace {

QString hex(quint64 value)
{
    return QStringLiteral("0x") + QString::number(value, 16);
}

QString isoTime(const QDateTime &time)
{
    return time.toUTC().toString(Qt::ISODateWithMs);
}

QJsonObject frameObject(const StackFrame &frame)
{
    QJsonObject object{{QStringLiteral("address"), hex(frame.address)}};
    if (!frame.image.isEmpty()) {
        object.insert(QStringLiteral("image"), frame.image);
        object.insert(QStringLiteral("image_offset"), hex(frame.imageOffset));
    }
    if (!frame.symbol.isEmpty()) {
        object.insert(QStringLiteral("symbol"), frame.symbol);
        object.insert(QStringLiteral("symbol_offset"), hex(frame.symbolOffset));
    }
    if (!frame.sourceFile.isEmpty()) {
        object.insert(QStringLiteral("file"), frame.sourceFile);
        object.insert(QStringLiteral("line"), frame.line);
    }
    return object;
}

} // namespace

QString DiagnosticReportSource::defaultRecordPath()
{
    return AppIdentity::dataDirectory() + QStringLiteral("/run-record");
}

DiagnosticReportSource::DiagnosticReportSource(CrashRecorder &recorder, QString recordPath)
    : m_recorder(recorder)
    , m_recordPath(std::move(recordPath))
{
}

std::optional<QJsonObject> DiagnosticReportSource::begin(const QString &appVersion)
{
    const std::optional<PreviousRun> previous = m_recorder.beginRun(m_recordPath, appVersion);
    if (!previous)
        return std::nullopt;
    return report(*previous);
}

void DiagnosticReportSource::setPhase(const QString &phase)
{
    m_recorder.setPhase(phase);
}

QJsonObject DiagnosticReportSource::report(const PreviousRun &run)
{
    const bool crashed = run.end == PreviousRun::End::crashed;
    QJsonObject object{
        {QStringLiteral("report_type"), crashed ? QStringLiteral("crash") : QStringLiteral("abnormal_end")},
        {QStringLiteral("app_version"), run.appVersion},
        {QStringLiteral("pid"), run.pid},
    };
    if (run.launchTime.isValid())
        object.insert(QStringLiteral("launch_time"), isoTime(run.launchTime));
    if (!run.lastPhase.isEmpty()) {
        object.insert(QStringLiteral("last_phase"), run.lastPhase);
        object.insert(QStringLiteral("last_phase_time"), isoTime(run.lastPhaseTime));
    }
    if (!crashed)
        return object;

    object.insert(QStringLiteral("signal"), run.signal);
    object.insert(QStringLiteral("signal_name"), run.signalName);
    object.insert(QStringLiteral("signal_code"), run.signalCode);
    if (run.faultAddress)
        object.insert(QStringLiteral("fault_address"), hex(*run.faultAddress));
    if (run.crashTime.isValid())
        object.insert(QStringLiteral("crash_time"), isoTime(run.crashTime));
    object.insert(QStringLiteral("uptime_seconds"), run.uptimeSeconds);
    QJsonArray frames;
    for (const StackFrame &frame : run.backtrace)
        frames.append(frameObject(frame));
    object.insert(QStringLiteral("backtrace"), frames);
    return object;
}
