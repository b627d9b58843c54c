#pragma once

#include <QString>

// The error values of the auth client, with the descriptions shown to the user.
struct AuthError {
    enum class Kind { http, noRefreshToken, noAccessToken, decode };

    Kind kind = Kind::decode;
    int status = 0; // http only
    QString body;   // http only

    static AuthError http(int status, QString body) { return {Kind::http, status, std::move(body)}; }
    static AuthError noRefreshToken() { return {Kind::noRefreshToken, 0, {}}; }
    static AuthError noAccessToken() { return {Kind::noAccessToken, 0, {}}; }
    static AuthError decode() { return {Kind::decode, 0, {}}; }

    bool operator==(const AuthError &) const = default;

    QString localizedDescription() const
    {
        switch (kind) {
        case Kind::http:
            return QStringLiteral("auth 接口 HTTP %1: ").arg(status) + body;
        case Kind::noRefreshToken:
            return QStringLiteral("本地没有 refresh token，需要重新登录");
        case Kind::noAccessToken:
            return QStringLiteral("本地没有 access token，需要重新登录");
        case Kind::decode:
            return QStringLiteral("无法解析 auth 响应");
        }
        return {};
    }

    // Textual form for log lines: the case name with its payload, e.g. http(401, "expired").
    QString describe() const
    {
        switch (kind) {
        case Kind::http:
            return QStringLiteral("http(%1, \"%2\")").arg(status).arg(body);
        case Kind::noRefreshToken:
            return QStringLiteral("noRefreshToken");
        case Kind::noAccessToken:
            return QStringLiteral("noAccessToken");
        case Kind::decode:
            return QStringLiteral("decode");
        }
        return {};
    }
};
