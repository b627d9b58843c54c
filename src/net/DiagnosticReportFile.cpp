#include "net/DiagnosticReportFile.h"

#include "net/RestReply.h"

#include <QFile>

namespace {
PlatformError fileError(const QFile &file)
{
    return PlatformError{QStringLiteral("QFile"), int(file.error()), file.errorString()};
}
} // namespace

Expected<std::optional<QJsonObject>, PlatformError> DiagnosticReportFile::read(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return fileError(file);
    const QByteArray content = file.readAll();
    if (file.error() != QFileDevice::NoError)
        return fileError(file);
    return parse(content);
}

std::optional<QJsonObject> DiagnosticReportFile::parse(const QByteArray &content)
{
    return RestReply::jsonObject(content);
}
