#include "store/JWT.h"

#include "core/ExactJson.h"

#include <QJsonDocument>
#include <QJsonValue>

#include <algorithm>
#include <cmath>

namespace {

int base64Digit(QChar c)
{
    const char16_t u = c.unicode();
    if (u >= 'A' && u <= 'Z')
        return u - 'A';
    if (u >= 'a' && u <= 'z')
        return u - 'a' + 26;
    if (u >= '0' && u <= '9')
        return u - '0' + 52;
    if (u == '+')
        return 62;
    if (u == '/')
        return 63;
    return -1;
}

// Standard base64 (RFC 4648): the length a multiple of four, "=" only as the last one or two
// characters, nothing outside the alphabet.
std::optional<QByteArray> decodeStandardBase64(const QString &text)
{
    if (text.size() % 4 != 0)
        return std::nullopt;
    QByteArray out;
    out.reserve(text.size() / 4 * 3);
    for (qsizetype block = 0; block < text.size(); block += 4) {
        const bool last = block + 4 == text.size();
        quint32 bits = 0;
        int padding = 0;
        for (int i = 0; i < 4; ++i) {
            const QChar c = text.at(block + i);
            if (c == QLatin1Char('=')) {
                if (!last || i < 2)
                    return std::nullopt;
                ++padding;
                bits <<= 6;
                continue;
            }
            const int digit = base64Digit(c);
            if (digit < 0 || padding > 0)
                return std::nullopt;
            bits = (bits << 6) | quint32(digit);
        }
        out.append(char((bits >> 16) & 0xFF));
        if (padding < 2)
            out.append(char((bits >> 8) & 0xFF));
        if (padding < 1)
            out.append(char(bits & 0xFF));
    }
    return out;
}

// An "exp" far beyond any real token (about 300 000 years either way) is held at that bound,
// which keeps the conversion to milliseconds defined and reads the same as the true instant
// for every use of an expiry.
constexpr double maxExpiryMilliseconds = 1e16;

} // namespace

std::optional<QByteArray> JWT::base64URLDecode(const QString &segment)
{
    QString standard = segment;
    standard.replace(QLatin1Char('-'), QLatin1Char('+')).replace(QLatin1Char('_'), QLatin1Char('/'));
    if (const qsizetype rest = standard.size() % 4; rest != 0)
        standard.append(QString(4 - rest, QLatin1Char('=')));
    return decodeStandardBase64(standard);
}

std::optional<QJsonObject> JWT::payload(const QString &piece)
{
    const std::optional<QByteArray> bytes = base64URLDecode(piece);
    if (!bytes)
        return std::nullopt;
    QJsonParseError error{};
    const QJsonDocument document = parseJsonExactly(*bytes, &error);
    if (error.error != QJsonParseError::NoError || !document.isObject())
        return std::nullopt;
    return document.object();
}

std::optional<QDateTime> JWT::expiry(const QString &token)
{
    const QStringList pieces = token.split(QLatin1Char('.'), Qt::KeepEmptyParts);
    if (pieces.size() != 3)
        return std::nullopt;
    const std::optional<QJsonObject> claims = payload(pieces.at(1));
    if (!claims)
        return std::nullopt;
    const QJsonValue exp = claims->value(QLatin1String("exp"));
    if (!exp.isDouble())
        return std::nullopt;
    const double milliseconds = std::clamp(exp.toDouble() * 1000.0, -maxExpiryMilliseconds, maxExpiryMilliseconds);
    return QDateTime::fromMSecsSinceEpoch(qint64(std::llround(milliseconds)), Qt::UTC);
}

std::optional<QString> JWT::subject(const QString &token)
{
    const QStringList pieces = token.split(QLatin1Char('.'), Qt::SkipEmptyParts);
    if (pieces.size() < 2)
        return std::nullopt;
    const std::optional<QJsonObject> claims = payload(pieces.at(1));
    if (!claims)
        return std::nullopt;
    const QJsonValue sub = claims->value(QLatin1String("sub"));
    if (!sub.isString())
        return std::nullopt;
    return sub.toString();
}
