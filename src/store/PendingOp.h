#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

#include <optional>

// One hot word change that has still to reach the server: an add or a delete of a word.
// Stored as a JSON array with one object per op, e.g. an add of 热词 then a delete of 语音:
//     [{"add":{"_0":"热词"}},{"delete":{"_0":"语音"}}]
// (UTF-8, non-ASCII characters not escaped).
struct PendingOp {
    enum class Kind { add, remove };

    Kind kind = Kind::add;
    QString word;

    static PendingOp add(QString word) { return {Kind::add, std::move(word)}; }
    static PendingOp remove(QString word) { return {Kind::remove, std::move(word)}; }

    bool operator==(const PendingOp &) const = default;

    static QByteArray encode(const QList<PendingOp> &ops);
    // None when the bytes are not such an array: not JSON, an element that is not an object of
    // exactly one key, a key other than "add" or "delete", or no text under "_0".
    static std::optional<QList<PendingOp>> decode(const QByteArray &json);
};
