#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QJsonObject>
#include <QString>

#include <optional>

// Reads claims out of a JWT's payload without verifying anything.
class JWT {
public:
    JWT() = delete;

    // The bytes of one base64url segment: "-" and "_" become "+" and "/", "=" pads the length to
    // a multiple of four, and the result must be strict standard base64. None when it is not.
    static std::optional<QByteArray> base64URLDecode(const QString &segment);

    // The instant of the "exp" claim (a JSON number of seconds since 1970-01-01T00:00:00Z).
    // Needs exactly three pieces separated by ".", empty pieces counted.
    static std::optional<QDateTime> expiry(const QString &token);

    // The "sub" claim when it is a JSON string. The payload is the second non-empty piece.
    static std::optional<QString> subject(const QString &token);

private:
    static std::optional<QJsonObject> payload(const QString &piece);
};
