#include "store/PendingOp.h"

#include "core/ExactJson.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace {
const QString addKey = QStringLiteral("add");
const QString deleteKey = QStringLiteral("delete");
const QString wordKey = QStringLiteral("_0");
} // namespace

QByteArray PendingOp::encode(const QList<PendingOp> &ops)
{
    QJsonArray array;
    for (const PendingOp &op : ops) {
        const QJsonObject payload{{wordKey, op.word}};
        array.append(QJsonObject{{op.kind == Kind::add ? addKey : deleteKey, payload}});
    }
    return QJsonDocument(array).toJson(QJsonDocument::Compact);
}

std::optional<QList<PendingOp>> PendingOp::decode(const QByteArray &json)
{
    QJsonParseError error{};
    const QJsonDocument document = parseJsonExactly(json, &error);
    if (error.error != QJsonParseError::NoError || !document.isArray())
        return std::nullopt;

    QList<PendingOp> ops;
    const QJsonArray array = document.array();
    for (const QJsonValue &element : array) {
        const QJsonObject object = element.toObject();
        if (!element.isObject() || object.size() != 1)
            return std::nullopt;
        const QString key = object.begin().key();
        if (key != addKey && key != deleteKey)
            return std::nullopt;
        const QJsonValue payload = object.begin().value();
        const QJsonValue word = payload.toObject().value(wordKey);
        if (!payload.isObject() || !word.isString())
            return std::nullopt;
        ops.append(PendingOp{key == addKey ? Kind::add : Kind::remove, word.toString()});
    }
    return ops;
}
