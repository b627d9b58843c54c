#include "net/RestReply.h"

#include "core/ExactJson.h"

#include <QJsonDocument>

namespace {
constexpr const char *tooLargeProperty = "murlexBodyTooLarge";
constexpr const char *limitProperty = "murlexBodyLimit";

void abortTooLarge(QNetworkReply *reply)
{
    if (reply->property(tooLargeProperty).toBool())
        return;
    reply->setProperty(tooLargeProperty, true);
    reply->abort();
}
} // namespace

void RestReply::limitBody(QNetworkReply &reply, qint64 maxBytes)
{
    reply.setProperty(limitProperty, maxBytes);
    QNetworkReply *watched = &reply;
    QObject::connect(watched, &QNetworkReply::metaDataChanged, watched, [watched, maxBytes] {
        const QVariant length = watched->header(QNetworkRequest::ContentLengthHeader);
        if (length.isValid() && length.toLongLong() > maxBytes)
            abortTooLarge(watched);
    });
    QObject::connect(watched, &QNetworkReply::readyRead, watched, [watched, maxBytes] {
        if (watched->bytesAvailable() > maxBytes)
            abortTooLarge(watched);
    });
}

bool RestReply::bodyTooLarge(const QNetworkReply &reply)
{
    return reply.property(tooLargeProperty).toBool();
}

PlatformError RestReply::platformError(const QNetworkReply &reply)
{
    if (bodyTooLarge(reply))
        return PlatformError{QStringLiteral("QNetworkReply"), int(QNetworkReply::UnknownContentError),
                             QStringLiteral("answer larger than %1 bytes").arg(reply.property(limitProperty).toLongLong())};
    return PlatformError{QStringLiteral("QNetworkReply"), int(reply.error()), reply.errorString()};
}

std::optional<QJsonObject> RestReply::jsonObject(const QByteArray &body)
{
    QJsonParseError error{};
    const QJsonDocument document = parseJsonExactly(body, &error);
    if (error.error != QJsonParseError::NoError || !document.isObject())
        return std::nullopt;
    return document.object();
}
