#include "net/DiagnosticsUploader.h"

#include "BuildConfig.h"
#include "app/AppLogger.h"
#include "net/AuthClient.h"
#include "net/BackendConfig.h"
#include "net/DiagnosticReportFile.h"
#include "net/NetworkAccess.h"
#include "net/RestReply.h"
#include "platform/Platform.h"
#include "platform/ProcessInfo.h"
#include "store/MetricsKitObserver.h"

#include <QCoroNetworkReply>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QNetworkReply>
#include <QNetworkRequest>

#include <memory>

namespace {

QString describe(const TokenFailure &failure)
{
    if (const auto *auth = std::get_if<AuthError>(&failure))
        return auth->localizedDescription();
    return std::get<PlatformError>(failure).localizedDescription;
}

PlatformError fileError(const QFile &file)
{
    return PlatformError{QStringLiteral("QFile"), int(file.error()), file.errorString()};
}

} // namespace

QJsonObject DiagnosticsUploader::body(const QJsonObject &payload)
{
    const QString version = QString::fromUtf8(BuildConfig::appVersion);
    return QJsonObject{
        {QStringLiteral("platform"), Platform::processInfo().platformName()},
        {QStringLiteral("app_version"), version.isEmpty() ? QStringLiteral("unknown") : version},
        {QStringLiteral("os_version"), Platform::processInfo().osVersion()},
        {QStringLiteral("metric_kit_payload"), payload},
    };
}

QCoro::Task<Expected<int, TokenFailure>> DiagnosticsUploader::uploadAll()
{
    int count = 0;
    const QDir directory(MetricsKitObserver::cacheDirectory());
    if (!directory.exists())
        co_return count;

    QStringList files;
    for (const QFileInfo &entry : directory.entryInfoList(QDir::Files | QDir::NoDotAndDotDot, QDir::Unsorted)) {
        if (entry.suffix() == QLatin1String("json"))
            files.append(entry.filePath());
    }
    for (const QString &path : std::as_const(files)) {
        const Expected<bool, TokenFailure> uploaded = co_await uploadFile(path);
        if (!uploaded) {
            qCCritical(AppLogger::diagnosticsUploader, "Upload failed for %s: %s", qPrintable(QFileInfo(path).fileName()),
                       qPrintable(describe(uploaded.error())));
            co_return uploaded.error();
        }
        if (*uploaded)
            ++count;
    }
    co_return count;
}

QCoro::Task<Expected<bool, TokenFailure>> DiagnosticsUploader::uploadFile(QString path)
{
    const QString name = QFileInfo(path).fileName();
    const Expected<std::optional<QJsonObject>, PlatformError> read = DiagnosticReportFile::read(path);
    if (!read)
        co_return TokenFailure(read.error());
    const std::optional<QJsonObject> &report = read.value();
    if (!report) {
        qCCritical(AppLogger::diagnosticsUploader, "Skipping malformed cache file: %s", qPrintable(name));
        co_return false;
    }
    const QByteArray payload = QJsonDocument(body(*report)).toJson(QJsonDocument::Compact);

    const TokenResult token = co_await AuthClient::validAccessToken();
    if (!token)
        co_return token.error();

    QFile file(path);
    const auto deleteFile = [&file]() -> Expected<bool, TokenFailure> {
        if (!file.remove())
            return TokenFailure(fileError(file));
        return true;
    };

    const Expected<int, TokenFailure> status = co_await post(payload, *token);
    if (!status)
        co_return status.error();
    switch (*status) {
    case 201: {
        Expected<bool, TokenFailure> deleted = deleteFile();
        if (deleted)
            qCInfo(AppLogger::diagnosticsUploader, "Uploaded and deleted: %s", qPrintable(name));
        co_return deleted;
    }
    case 401:
        break;
    case 413:
        qCCritical(AppLogger::diagnosticsUploader, "Payload too large (413) for %s, keeping file", qPrintable(name));
        co_return false;
    case 429:
        qCCritical(AppLogger::diagnosticsUploader, "Rate limited (429), keeping file");
        co_return false;
    default:
        qCCritical(AppLogger::diagnosticsUploader, "Server error %d for %s, keeping file", *status, qPrintable(name));
        co_return false;
    }

    qCInfo(AppLogger::diagnosticsUploader, "401 on upload, retrying after token refresh...");
    const TokenResult refreshed = co_await AuthClient::refreshAccessToken();
    if (!refreshed)
        co_return refreshed.error();
    const Expected<int, TokenFailure> retry = co_await post(payload, *refreshed);
    if (!retry)
        co_return retry.error();
    if (*retry == 201)
        co_return deleteFile();
    if (*retry == 401)
        co_return TokenFailure(AuthError::http(401, QStringLiteral("Upload still unauthorized after refresh")));
    qCCritical(AppLogger::diagnosticsUploader, "Retry returned %d, keeping file", *retry);
    co_return false;
}

QCoro::Task<Expected<int, TokenFailure>> DiagnosticsUploader::post(QByteArray body, QString token)
{
    QNetworkRequest request(BackendConfig::diagnosticsURL());
    request.setTransferTimeout(int(requestTimeout.count()));
    request.setHeader(QNetworkRequest::ContentTypeHeader, QByteArrayLiteral("application/json"));
    request.setRawHeader("Authorization", "Bearer " + token.toUtf8());

    const RestReply::Owned reply(NetworkAccess::shared()->post(request, body));
    co_await reply.get();

    const QVariant status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    if (status.isValid())
        co_return status.toInt();
    // No HTTP status: the connection failed (refused, reset, timed out, TLS), or the answer was
    // not HTTP at all.
    if (reply->error() != QNetworkReply::NoError)
        co_return TokenFailure(RestReply::platformError(*reply));
    co_return TokenFailure(PlatformError{QStringLiteral("QNetworkReply"), int(QNetworkReply::ProtocolFailure),
                                         QStringLiteral("bad server response")});
}
