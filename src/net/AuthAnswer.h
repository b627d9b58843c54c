#pragma once

#include <QByteArray>
#include <QString>

#include <optional>

// The bodies the account endpoints answer a successful request with. Each reader gives none
// when the body is not a JSON object holding the members it needs with the right types.
struct AuthAnswer {
    AuthAnswer() = delete;

    struct SignIn {
        QString accessToken;
        QString refreshToken;
        bool isNewUser = false;
    };

    // POST /auth/apple: {"access_token": text, "refresh_token": text, "is_new_user": bool}.
    static std::optional<SignIn> signIn(const QByteArray &body);
    // POST /auth/refresh: {"access_token": text}.
    static std::optional<QString> refresh(const QByteArray &body);
};
