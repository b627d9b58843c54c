#pragma once

#include <QByteArray>
#include <QHash>
#include <QString>

#include <optional>

// Issues and checks the stand-in's credentials.
//
// Access tokens are HS256 JWTs {"sub", "iat", "exp", "jti"} signed with a secret drawn at random when the
// process starts, so no token outlives the server that issued it. "exp" is whole seconds since the epoch:
// iat (the current second, rounded down) plus the lifetime; the token is accepted while now < exp.
// Refresh tokens are opaque random texts remembered together with their subject.
class TokenIssuer
{
public:
    TokenIssuer();

    QString issueAccess(const QString &subject, qint64 lifetimeSeconds) const;
    QString issueRefresh(const QString &subject);

    // The subject of a well-signed, unexpired access token; nothing otherwise.
    std::optional<QString> verifyAccess(const QString &token) const;
    // The subject a refresh token was issued to; nothing for an unknown one.
    std::optional<QString> subjectOfRefresh(const QString &refreshToken) const;

    // A short, recognisable prefix of a token for log lines (never the whole token).
    static QString logForm(const QString &token);

private:
    QByteArray sign(const QByteArray &signingInput) const;

    QByteArray m_secret;
    QHash<QString, QString> m_refreshSubjects;
};
