#pragma once

#include "core/PlatformError.h"

#include <QByteArray>
#include <QJsonObject>
#include <QNetworkReply>

#include <memory>
#include <optional>

// How the REST clients read a finished reply.
struct RestReply {
    RestReply() = delete;

    struct DeleteLater {
        void operator()(QObject *object) const { object->deleteLater(); }
    };
    // Owns a reply for the length of one request; it is deleted from the event loop.
    using Owned = std::unique_ptr<QNetworkReply, DeleteLater>;

    // A failure of the connection itself (refused, reset, timed out, cancelled, TLS, proxy) rather
    // than an answer of the server.
    static bool isTransportError(QNetworkReply::NetworkError error)
    {
        return error != QNetworkReply::NoError && error < QNetworkReply::ContentAccessDenied;
    }
    // The same for a finished reply. No proxy is ever used, so a 407 can only be the server's own
    // answer: Qt reports it as a proxy error, but it is an answer with a status like any other.
    static bool isTransportError(const QNetworkReply &reply)
    {
        if (reply.error() == QNetworkReply::ProxyAuthenticationRequiredError &&
            reply.attribute(QNetworkRequest::HttpStatusCodeAttribute).isValid())
            return false;
        return isTransportError(reply.error());
    }

    // Aborts the reply as soon as its body is known to exceed `maxBytes` (announced by its
    // Content-Length, or buffered), so a broken or hostile server cannot make the client hold an
    // answer of any size it likes.
    static void limitBody(QNetworkReply &reply, qint64 maxBytes);
    // Whether limitBody() aborted the reply.
    static bool bodyTooLarge(const QNetworkReply &reply);

    // The reply's error as the network layer reported it (an answer cut off by limitBody() says so).
    static PlatformError platformError(const QNetworkReply &reply);

    // The body as a JSON object; none when it is anything else.
    static std::optional<QJsonObject> jsonObject(const QByteArray &body);
};
