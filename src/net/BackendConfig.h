#pragma once

#include <QString>
#include <QUrl>
#include <optional>

// Where the backend lives, and every URL derived from it. The host is fixed when the
// application is built; nothing at run time changes it. Each accessor builds a fresh URL.
class BackendConfig {
public:
    BackendConfig() = delete;

    static QString host();

    // Where people reach the people behind the backend (the about section, the account deletion
    // mail). Placeholders under the backend's domain until the real addresses are settled.
    static constexpr const char *supportEmail = "support@murlex.app";
    static constexpr const char *privacyPolicyURL = "https://murlex.app/privacy";
    static constexpr const char *termsURL = "https://murlex.app/terms";

    static constexpr double sampleRate = 16000.0;
    static constexpr int chunkMilliseconds = 100;

    static QUrl baseURL();
    static QUrl authAppleURL();
    static QUrl authRefreshURL();
    static QUrl hotwordsURL();
    static QUrl diagnosticsURL();

    // https://{host}/hotwords/{word, percent-encoded as one path segment}; none when the
    // word cannot be written as UTF-8 (an unpaired surrogate).
    static std::optional<QUrl> hotwordURL(const QString &word);

    // wss://{host}/ws?token={token}
    static std::optional<QUrl> webSocketURL(const QString &token);

private:
    static QUrl withPath(const QString &path);
};
