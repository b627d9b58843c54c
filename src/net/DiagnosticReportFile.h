#pragma once

#include "core/Expected.h"
#include "core/PlatformError.h"

#include <QByteArray>
#include <QJsonObject>
#include <QString>

#include <optional>

// A cached report file as the uploader reads it: the whole file, which must hold one JSON object.
struct DiagnosticReportFile {
    DiagnosticReportFile() = delete;

    // The report in the file at `path`; none when its content is not a JSON object (malformed);
    // the file's error ("QFile", QFileDevice::FileError, errorString()) when it cannot be read.
    static Expected<std::optional<QJsonObject>, PlatformError> read(const QString &path);
    // The report a file's content holds; none when it is not a JSON object.
    static std::optional<QJsonObject> parse(const QByteArray &content);
};
