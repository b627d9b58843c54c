#pragma once

#include <QByteArray>
#include <QJsonDocument>
#include <QJsonObject>

// One HTTP answer, produced by the endpoint handlers and written by BackendServer (at once, or later
// when a fault delays it).
struct HttpReply
{
    int status = 200;
    QByteArray body;
    QByteArray contentType;

    static HttpReply json(int status, const QJsonObject &object)
    {
        return {status, QJsonDocument(object).toJson(QJsonDocument::Compact), "application/json"};
    }
    static HttpReply empty(int status) { return {status, {}, {}}; }
    // Errors carry a small JSON object {"error": message}; clients only show the body as text.
    static HttpReply error(int status, const QString &message)
    {
        return json(status, QJsonObject{{QStringLiteral("error"), message}});
    }
};

// What the handlers need from a request; QHttpServerRequest itself lives only for one call.
struct HttpRequestInfo
{
    QByteArray method;      // "GET", "POST", ...
    QByteArray rawPath;     // as sent, still percent-encoded ("/hotwords/a%2Fb")
    QByteArray rawQuery;    // as sent, without the "?"
    QByteArray authorization;
    QByteArray body;
};
