#include "TokenIssuer.h"

#include <QDateTime>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMessageAuthenticationCode>
#include <QRandomGenerator>

namespace {

constexpr auto kBase64Url = QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals;

QByteArray randomBytes(int count)
{
    QByteArray bytes(count, Qt::Uninitialized);
    QRandomGenerator::system()->generate(bytes.begin(), bytes.end());
    return bytes;
}

// Comparison whose duration does not depend on where the inputs first differ.
bool equalInConstantTime(const QByteArray &a, const QByteArray &b)
{
    if (a.size() != b.size())
        return false;
    unsigned char diff = 0;
    for (qsizetype i = 0; i < a.size(); ++i)
        diff |= static_cast<unsigned char>(a[i] ^ b[i]);
    return diff == 0;
}

} // namespace

TokenIssuer::TokenIssuer() : m_secret(randomBytes(32)) {}

QByteArray TokenIssuer::sign(const QByteArray &signingInput) const
{
    return QMessageAuthenticationCode::hash(signingInput, m_secret, QCryptographicHash::Sha256)
        .toBase64(kBase64Url);
}

QString TokenIssuer::issueAccess(const QString &subject, qint64 lifetimeSeconds) const
{
    const qint64 issuedAt = QDateTime::currentSecsSinceEpoch();
    const QJsonObject header{{QStringLiteral("alg"), QStringLiteral("HS256")},
                             {QStringLiteral("typ"), QStringLiteral("JWT")}};
    const QJsonObject claims{
        {QStringLiteral("sub"), subject},
        {QStringLiteral("iat"), issuedAt},
        {QStringLiteral("exp"), issuedAt + lifetimeSeconds},
        // Two tokens issued within one second for the same subject still differ.
        {QStringLiteral("jti"), QString::fromLatin1(randomBytes(9).toBase64(kBase64Url))},
    };
    const QByteArray signingInput =
        QJsonDocument(header).toJson(QJsonDocument::Compact).toBase64(kBase64Url) + '.'
        + QJsonDocument(claims).toJson(QJsonDocument::Compact).toBase64(kBase64Url);
    return QString::fromLatin1(signingInput + '.' + sign(signingInput));
}

QString TokenIssuer::issueRefresh(const QString &subject)
{
    const QString token = QStringLiteral("rt.") + QString::fromLatin1(randomBytes(24).toBase64(kBase64Url));
    m_refreshSubjects.insert(token, subject);
    return token;
}

std::optional<QString> TokenIssuer::verifyAccess(const QString &token) const
{
    const QByteArray bytes = token.toLatin1();
    const QList<QByteArray> parts = bytes.split('.');
    if (parts.size() != 3)
        return std::nullopt;
    if (!equalInConstantTime(sign(parts[0] + '.' + parts[1]), parts[2]))
        return std::nullopt;
    const auto payload = QByteArray::fromBase64Encoding(parts[1], kBase64Url);
    if (!payload)
        return std::nullopt;
    const QJsonObject claims = QJsonDocument::fromJson(*payload).object();
    const QJsonValue exp = claims.value(QStringLiteral("exp"));
    const QJsonValue sub = claims.value(QStringLiteral("sub"));
    if (!exp.isDouble() || !sub.isString())
        return std::nullopt;
    if (QDateTime::currentMSecsSinceEpoch() >= qint64(exp.toDouble() * 1000.0))
        return std::nullopt;
    return sub.toString();
}

std::optional<QString> TokenIssuer::subjectOfRefresh(const QString &refreshToken) const
{
    const auto it = m_refreshSubjects.constFind(refreshToken);
    if (it == m_refreshSubjects.cend())
        return std::nullopt;
    return *it;
}

QString TokenIssuer::logForm(const QString &token)
{
    if (token.isEmpty())
        return QStringLiteral("<empty>");
    return token.left(std::min<qsizetype>(8, token.size() / 4)) + QStringLiteral("…(%1 chars)").arg(token.size());
}
