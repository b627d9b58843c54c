#pragma once

#include "HttpReply.h"

#include <optional>

class BackendState;

// The backend's public REST endpoints: /auth/apple, /auth/refresh, /hotwords, /hotwords/<word>,
// /diagnostics. Pure request-to-reply logic over BackendState; transport and faults are elsewhere.
class RestApi
{
public:
    explicit RestApi(BackendState &state) : m_state(state) {}

    HttpReply handle(const HttpRequestInfo &request);

    // The subject an identity token signs in as: the token itself when it is 1..64 characters of
    // [A-Za-z0-9._@-] (so tests can pick readable subjects), otherwise "apple." followed by the first
    // 16 hex digits of its SHA-256.
    static QString subjectForIdentity(const QString &identityToken);

private:
    HttpReply signInWithApple(const HttpRequestInfo &request);
    HttpReply refresh(const HttpRequestInfo &request);
    HttpReply listHotWords(const QString &subject);
    HttpReply addHotWord(const QString &subject, const HttpRequestInfo &request);
    HttpReply deleteHotWord(const QString &subject, const QByteArray &encodedWord);
    HttpReply addDiagnostics(const QString &subject, const HttpRequestInfo &request);

    // The subject of the request's bearer token, or nothing when it is missing, malformed or expired.
    std::optional<QString> authorisedSubject(const HttpRequestInfo &request) const;

    BackendState &m_state;
};
