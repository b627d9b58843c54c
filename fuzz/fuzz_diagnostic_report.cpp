// A cached diagnostic report file as the uploader reads it before sending it: the whole file,
// which must hold one JSON object; the object is sent inside the upload's body.

#include "FuzzSupport.h"

#include "net/DiagnosticReportFile.h"

#include <QFile>
#include <QJsonDocument>

namespace {
QString reportPath;
} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    FuzzSupport::quietQt();
    const QString cacheDirectory = FuzzSupport::scratchDirectory();
    reportPath = cacheDirectory + QStringLiteral("/20261206-101500-042-diagnostic.json");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    {
        QFile file(reportPath);
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
            FuzzSupport::fail("cannot write the report file");
        file.write(reinterpret_cast<const char *>(data), qint64(size));
    }
    const auto read = DiagnosticReportFile::read(reportPath);
    FuzzSupport::check(bool(read), "a readable report file reported as unreadable");
    const std::optional<QJsonObject> &report = read.value();
    if (!report)
        return 0;
    // The upload carries the object as it was read: written out and read back, it writes out the
    // same bytes. (QJsonObject's == is no judge here: Qt 6.4 can call two equal objects unequal,
    // e.g. one holding a text read from JSON and one holding the same text written and read again.)
    const QByteArray sent = QJsonDocument(*report).toJson(QJsonDocument::Compact);
    const std::optional<QJsonObject> again = DiagnosticReportFile::parse(sent);
    FuzzSupport::check(again && QJsonDocument(*again).toJson(QJsonDocument::Compact) == sent,
                       "a report is not sent as it was read");
    return 0;
}
