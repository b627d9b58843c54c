#include "ControlApi.h"

#include "BackendState.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QLoggingCategory>
#include <QUrlQuery>

Q_LOGGING_CATEGORY(lcControl, "murlex.devserver.control")

namespace {

// An empty body counts as {}, so `curl -X POST .../_control/reset` works.
std::optional<QJsonObject> jsonObjectBody(const QByteArray &body)
{
    if (body.trimmed().isEmpty())
        return QJsonObject{};
    const QJsonDocument document = QJsonDocument::fromJson(body);
    if (!document.isObject())
        return std::nullopt;
    return document.object();
}

} // namespace

HttpReply ControlApi::handle(const HttpRequestInfo &request)
{
    const QByteArray what = request.rawPath.mid(qsizetype(sizeof("/_control/") - 1));
    const QByteArray &method = request.method;
    const bool isPost = method == "POST";
    const auto body = isPost || method == "PUT" ? jsonObjectBody(request.body) : std::optional<QJsonObject>{QJsonObject{}};
    if (!body)
        return HttpReply::error(400, QStringLiteral("body must be a JSON object"));

    if (what == "reset" && isPost) {
        m_state.reset();
        qCInfo(lcControl) << "reset";
        return HttpReply::empty(204);
    }

    if (what == "tokens" && isPost) {
        const QString subject = body->value(QStringLiteral("sub")).toString();
        if (subject.isEmpty())
            return HttpReply::error(400, QStringLiteral("\"sub\" must be a non-empty string"));
        const qint64 lifetime = body->value(QStringLiteral("access_lifetime")).toInteger(m_state.accessLifetime());
        return HttpReply::json(200, {
            {QStringLiteral("access_token"), m_state.tokens().issueAccess(subject, lifetime)},
            {QStringLiteral("refresh_token"), m_state.tokens().issueRefresh(subject)},
        });
    }

    if (what == "config" && isPost) {
        const QJsonValue lifetime = body->value(QStringLiteral("access_lifetime"));
        if (!lifetime.isDouble())
            return HttpReply::error(400, QStringLiteral("\"access_lifetime\" must be a number of seconds"));
        m_state.setAccessLifetime(lifetime.toInteger());
        return HttpReply::empty(204);
    }

    if (what == "rest-faults" && isPost) {
        QString error;
        auto fault = FaultPlan::parseRestFault(*body, &error);
        if (!fault)
            return HttpReply::error(400, error);
        qCInfo(lcControl).noquote() << "REST fault for" << fault->method << fault->pathPrefix << "status"
                                    << fault->status << "delay" << fault->delayMs << "stall" << fault->stall
                                    << "count" << fault->remaining;
        m_state.faults().addRestFault(std::move(*fault));
        return HttpReply::empty(204);
    }

    if (what == "socket-faults" && isPost) {
        QString error;
        auto fault = FaultPlan::parseSocketFault(*body, &error);
        if (!fault)
            return HttpReply::error(400, error);
        qCInfo(lcControl).noquote() << "socket fault"
                                    << QJsonDocument(*body).toJson(QJsonDocument::Compact);
        m_state.faults().addSocketFault(std::move(*fault));
        return HttpReply::empty(204);
    }

    if (what == "stats" && method == "GET")
        return HttpReply::json(200, {{QStringLiteral("requests"), m_state.requestCounts()}});

    if (what == "diagnostics" && method == "GET")
        return HttpReply::json(200, {{QStringLiteral("diagnostics"), m_state.diagnostics()}});

    if (what == "sockets" && method == "GET")
        return HttpReply::json(200, {{QStringLiteral("connections"), m_state.socketRecords()}});

    if (what == "hotwords" && method == "GET") {
        const QString subject = QUrlQuery(QString::fromLatin1(request.rawQuery)).queryItemValue(
            QStringLiteral("sub"), QUrl::FullyDecoded);
        return HttpReply::json(200, {{QStringLiteral("hotwords"), QJsonArray::fromStringList(m_state.hotWords(subject))}});
    }

    if (what == "hotwords" && method == "PUT") {
        const QString subject = body->value(QStringLiteral("sub")).toString();
        const QJsonValue words = body->value(QStringLiteral("hotwords"));
        if (subject.isEmpty() || !words.isArray())
            return HttpReply::error(400, QStringLiteral("needs \"sub\" and a \"hotwords\" array"));
        QStringList list;
        for (const QJsonValue &word : words.toArray())
            list.append(word.toString());
        m_state.hotWords(subject) = list;
        return HttpReply::empty(204);
    }

    return HttpReply::error(404, QStringLiteral("unknown control endpoint"));
}
