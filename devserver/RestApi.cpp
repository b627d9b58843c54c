#include "RestApi.h"

#include "BackendState.h"

#include <QCryptographicHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QLoggingCategory>
#include <QRegularExpression>

Q_LOGGING_CATEGORY(lcRest, "murlex.devserver.rest")

namespace {

const QByteArray kHotWordPrefix = "/hotwords/";

// The body as a JSON object, or nothing when it is empty, not JSON or not an object.
std::optional<QJsonObject> jsonObjectBody(const HttpRequestInfo &request)
{
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(request.body, &error);
    if (error.error != QJsonParseError::NoError || !document.isObject())
        return std::nullopt;
    return document.object();
}

HttpReply badBody(const char *what)
{
    return HttpReply::error(400, QString::fromLatin1(what));
}

} // namespace

QString RestApi::subjectForIdentity(const QString &identityToken)
{
    static const QRegularExpression readable(QStringLiteral("^[A-Za-z0-9._@-]{1,64}$"));
    if (readable.match(identityToken).hasMatch())
        return identityToken;
    const QByteArray digest = QCryptographicHash::hash(identityToken.toUtf8(), QCryptographicHash::Sha256);
    return QStringLiteral("apple.") + QString::fromLatin1(digest.toHex().left(16));
}

HttpReply RestApi::handle(const HttpRequestInfo &request)
{
    const QByteArray &path = request.rawPath;
    const QByteArray &method = request.method;

    if (path == "/auth/apple")
        return method == "POST" ? signInWithApple(request) : HttpReply::error(405, QStringLiteral("method not allowed"));
    if (path == "/auth/refresh")
        return method == "POST" ? refresh(request) : HttpReply::error(405, QStringLiteral("method not allowed"));

    const bool isHotWords = path == "/hotwords";
    // Exactly one path segment after the prefix: a word always arrives with its slashes encoded.
    const bool isOneHotWord = path.startsWith(kHotWordPrefix) && !path.mid(kHotWordPrefix.size()).contains('/');
    const bool isDiagnostics = path == "/diagnostics";
    if (!isHotWords && !isOneHotWord && !isDiagnostics)
        return HttpReply::error(404, QStringLiteral("not found"));

    const std::optional<QString> subject = authorisedSubject(request);
    if (!subject)
        return HttpReply::error(401, QStringLiteral("missing, invalid or expired access token"));

    if (isHotWords && method == "GET")
        return listHotWords(*subject);
    if (isHotWords && method == "POST")
        return addHotWord(*subject, request);
    if (isOneHotWord && method == "DELETE")
        return deleteHotWord(*subject, path.mid(kHotWordPrefix.size()));
    if (isDiagnostics && method == "POST")
        return addDiagnostics(*subject, request);
    return HttpReply::error(405, QStringLiteral("method not allowed"));
}

std::optional<QString> RestApi::authorisedSubject(const HttpRequestInfo &request) const
{
    static const QByteArray scheme = "Bearer ";
    if (!request.authorization.startsWith(scheme))
        return std::nullopt;
    const QString token = QString::fromLatin1(request.authorization.mid(scheme.size()));
    const auto subject = m_state.tokens().verifyAccess(token);
    if (!subject)
        qCInfo(lcRest) << "refused access token" << TokenIssuer::logForm(token);
    return subject;
}

HttpReply RestApi::signInWithApple(const HttpRequestInfo &request)
{
    const auto body = jsonObjectBody(request);
    if (!body)
        return badBody("body must be a JSON object");
    const QJsonValue identity = body->value(QStringLiteral("identity_token"));
    if (!identity.isString() || identity.toString().isEmpty())
        return badBody("\"identity_token\" must be a non-empty string");

    const QString subject = subjectForIdentity(identity.toString());
    const bool isNew = m_state.noteIdentity(identity.toString());
    qCInfo(lcRest) << "sign-in with identity token" << TokenIssuer::logForm(identity.toString())
                   << (isNew ? "(new user)" : "(known user)");
    return HttpReply::json(200, {
        {QStringLiteral("access_token"), m_state.tokens().issueAccess(subject, m_state.accessLifetime())},
        {QStringLiteral("refresh_token"), m_state.tokens().issueRefresh(subject)},
        {QStringLiteral("is_new_user"), isNew},
    });
}

HttpReply RestApi::refresh(const HttpRequestInfo &request)
{
    const auto body = jsonObjectBody(request);
    if (!body)
        return badBody("body must be a JSON object");
    const QJsonValue refreshToken = body->value(QStringLiteral("refresh_token"));
    if (!refreshToken.isString())
        return badBody("\"refresh_token\" must be a string");

    const auto subject = m_state.tokens().subjectOfRefresh(refreshToken.toString());
    if (!subject) {
        qCInfo(lcRest) << "unknown refresh token" << TokenIssuer::logForm(refreshToken.toString());
        return HttpReply::error(401, QStringLiteral("unknown refresh token"));
    }
    return HttpReply::json(200, {
        {QStringLiteral("access_token"), m_state.tokens().issueAccess(*subject, m_state.accessLifetime())},
    });
}

HttpReply RestApi::listHotWords(const QString &subject)
{
    return HttpReply::json(200, {{QStringLiteral("hotwords"), QJsonArray::fromStringList(m_state.hotWords(subject))}});
}

HttpReply RestApi::addHotWord(const QString &subject, const HttpRequestInfo &request)
{
    const auto body = jsonObjectBody(request);
    if (!body)
        return badBody("body must be a JSON object");
    const QJsonValue word = body->value(QStringLiteral("word"));
    if (!word.isString() || word.toString().isEmpty())
        return badBody("\"word\" must be a non-empty string");

    QStringList &words = m_state.hotWords(subject);
    if (words.contains(word.toString()))
        return HttpReply::json(200, {{QStringLiteral("saved"), false}});
    words.append(word.toString());
    return HttpReply::json(201, {{QStringLiteral("saved"), true}});
}

HttpReply RestApi::deleteHotWord(const QString &subject, const QByteArray &encodedWord)
{
    // Decoded exactly once: "50%2525" is the word "50%25".
    const QByteArray utf8 = QByteArray::fromPercentEncoding(encodedWord);
    const QString word = QString::fromUtf8(utf8);
    if (word.toUtf8() != utf8)
        return badBody("the word is not valid UTF-8");
    if (!m_state.hotWords(subject).removeOne(word))
        return HttpReply::error(404, QStringLiteral("no such hot word"));
    return HttpReply::empty(204);
}

HttpReply RestApi::addDiagnostics(const QString &subject, const HttpRequestInfo &request)
{
    const auto body = jsonObjectBody(request);
    if (!body)
        return badBody("body must be a JSON object");
    for (const char *key : {"platform", "app_version", "os_version"}) {
        if (!body->value(QLatin1String(key)).isString())
            return badBody("\"platform\", \"app_version\" and \"os_version\" must be strings");
    }
    if (!body->value(QStringLiteral("metric_kit_payload")).isObject())
        return badBody("\"metric_kit_payload\" must be an object");
    m_state.addDiagnostics(subject, *body);
    return HttpReply::json(201, {{QStringLiteral("stored"), true}});
}
