#include "FaultPlan.h"

#include <QJsonArray>
#include <QJsonDocument>

namespace {

std::optional<SocketFault::When> parseWhen(const QJsonValue &value)
{
    const QString when = value.toString(QStringLiteral("connect"));
    if (when == QLatin1String("connect"))
        return SocketFault::When::Connect;
    if (when == QLatin1String("start"))
        return SocketFault::When::Start;
    if (when == QLatin1String("stop"))
        return SocketFault::When::Stop;
    return std::nullopt;
}

int parseCount(const QJsonObject &json)
{
    const int count = json.value(QStringLiteral("count")).toInt(1);
    return count < 0 ? -1 : count;
}

} // namespace

std::optional<RestFault> FaultPlan::parseRestFault(const QJsonObject &json, QString *error)
{
    RestFault fault;
    fault.method = json.value(QStringLiteral("method")).toString().toUpper().toLatin1();
    fault.pathPrefix = json.value(QStringLiteral("path")).toString().toLatin1();
    fault.status = json.value(QStringLiteral("status")).toInt(0);
    fault.delayMs = json.value(QStringLiteral("delay_ms")).toInt(0);
    fault.stall = json.value(QStringLiteral("stall")).toBool(false);
    fault.padBytes = qint64(json.value(QStringLiteral("pad_bytes")).toDouble(0));
    fault.remaining = parseCount(json);
    if (fault.remaining == 0) {
        *error = QStringLiteral("\"count\" must be positive, or -1 for every request until reset");
        return std::nullopt;
    }

    const QJsonValue body = json.value(QStringLiteral("body"));
    if (body.isObject() || body.isArray()) {
        fault.body = body.isObject() ? QJsonDocument(body.toObject()).toJson(QJsonDocument::Compact)
                                     : QJsonDocument(body.toArray()).toJson(QJsonDocument::Compact);
        fault.contentType = "application/json";
    } else if (body.isString()) {
        fault.body = body.toString().toUtf8();
        fault.contentType = "text/plain; charset=utf-8";
    }

    if (fault.method.isEmpty() || !fault.pathPrefix.startsWith('/')) {
        *error = QStringLiteral("a REST fault needs \"method\" and a \"path\" starting with /");
        return std::nullopt;
    }
    if (fault.status != 0 && (fault.status < 100 || fault.status > 599)) {
        *error = QStringLiteral("\"status\" must be an HTTP status code");
        return std::nullopt;
    }
    if (fault.padBytes < 0 || fault.padBytes > maxPadBytes) {
        *error = QStringLiteral("\"pad_bytes\" must be between 0 and %1").arg(maxPadBytes);
        return std::nullopt;
    }
    if (fault.status == 0 && fault.delayMs <= 0 && !fault.stall && fault.padBytes == 0) {
        *error = QStringLiteral("a REST fault needs \"status\", \"delay_ms\", \"stall\" or \"pad_bytes\"");
        return std::nullopt;
    }
    return fault;
}

std::optional<SocketFault> FaultPlan::parseSocketFault(const QJsonObject &json, QString *error)
{
    SocketFault fault;
    fault.remaining = parseCount(json);
    if (fault.remaining == 0) {
        *error = QStringLiteral("\"count\" must be positive, or -1 for every connection until reset");
        return std::nullopt;
    }
    const QString action = json.value(QStringLiteral("action")).toString();
    const auto when = parseWhen(json.value(QStringLiteral("when")));
    if (!when) {
        *error = QStringLiteral("\"when\" must be connect, start or stop");
        return std::nullopt;
    }
    fault.when = *when;

    if (action == QLatin1String("refuse")) {
        fault.action = SocketFault::Action::Refuse;
    } else if (action == QLatin1String("close")) {
        fault.action = SocketFault::Action::Close;
        fault.closeCode = json.value(QStringLiteral("code")).toInt(1000);
        fault.closeReason = json.value(QStringLiteral("reason")).toString();
        if (fault.closeCode < 1000 || fault.closeCode > 4999 || fault.closeReason.toUtf8().size() > 123) {
            *error = QStringLiteral("\"code\" must be 1000..4999 and \"reason\" at most 123 bytes");
            return std::nullopt;
        }
        const QJsonValue payload = json.value(QStringLiteral("payload_base64"));
        if (payload.isString()) {
            fault.closePayload = QByteArray::fromBase64(payload.toString().toLatin1());
            if (fault.closePayload->size() > 125) {
                *error = QStringLiteral("\"payload_base64\" must decode to at most 125 bytes");
                return std::nullopt;
            }
        }
    } else if (action == QLatin1String("delay_final")) {
        fault.action = SocketFault::Action::DelayFinal;
        fault.delayMs = json.value(QStringLiteral("delay_ms")).toInt(-1);
        fault.stops = json.value(QStringLiteral("stops")).toInt(0);
        if (fault.delayMs < 0 || fault.stops < 0) {
            *error = QStringLiteral("delay_final needs \"delay_ms\"");
            return std::nullopt;
        }
    } else if (action == QLatin1String("no_final")) {
        fault.action = SocketFault::Action::NoFinal;
    } else if (action == QLatin1String("send")) {
        fault.action = SocketFault::Action::Send;
        for (const QJsonValue &item : json.value(QStringLiteral("frames")).toArray()) {
            const QJsonObject frame = item.toObject();
            if (frame.value(QStringLiteral("text")).isString()) {
                fault.frames.append({false, frame.value(QStringLiteral("text")).toString().toUtf8()});
            } else if (frame.value(QStringLiteral("binary_base64")).isString()) {
                fault.frames.append(
                    {true, QByteArray::fromBase64(frame.value(QStringLiteral("binary_base64")).toString().toLatin1())});
            } else {
                *error = QStringLiteral("each frame needs \"text\" or \"binary_base64\"");
                return std::nullopt;
            }
        }
        if (fault.frames.isEmpty()) {
            *error = QStringLiteral("send needs a non-empty \"frames\" array");
            return std::nullopt;
        }
    } else {
        *error = QStringLiteral("\"action\" must be refuse, close, delay_final, no_final or send");
        return std::nullopt;
    }
    return fault;
}

std::optional<RestFault> FaultPlan::takeRestFault(const QByteArray &method, const QByteArray &rawPath)
{
    for (qsizetype i = 0; i < m_rest.size(); ++i) {
        RestFault &fault = m_rest[i];
        if (fault.method != method || !rawPath.startsWith(fault.pathPrefix))
            continue;
        RestFault taken = fault;
        if (fault.remaining > 0 && --fault.remaining == 0)
            m_rest.removeAt(i);
        return taken;
    }
    return std::nullopt;
}

QList<SocketFault> FaultPlan::takeSocketFaults()
{
    QList<SocketFault> taken;
    for (auto it = m_socket.begin(); it != m_socket.end();) {
        taken.append(*it);
        if (it->remaining > 0 && --it->remaining == 0)
            it = m_socket.erase(it);
        else
            ++it;
    }
    return taken;
}

void FaultPlan::clear()
{
    m_rest.clear();
    m_socket.clear();
}
