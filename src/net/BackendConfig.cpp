#include "net/BackendConfig.h"

#include "BuildConfig.h"

#include <QUrlQuery>

namespace {

// RFC 3986 path characters without the slash, beyond the unreserved set that
// QUrl::toPercentEncoding always leaves alone (letters, digits, - . _ ~).
const QByteArray kPathSegmentExtras = QByteArrayLiteral("!$&'()*+,;=:@");

// Characters that would change the meaning of a query value if left bare.
const QByteArray kQueryValueEncoded = QByteArrayLiteral("&=+#");

bool isWellFormedUtf16(const QString &text)
{
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (c.isHighSurrogate()) {
            if (i + 1 >= text.size() || !text.at(i + 1).isLowSurrogate())
                return false;
            ++i;
        } else if (c.isLowSurrogate()) {
            return false;
        }
    }
    return true;
}

void applyDevelopmentPort([[maybe_unused]] QUrl &url)
{
#if MURLEX_DEV_BACKEND
    url.setPort(BuildConfig::devBackendPort);
#endif
}

} // namespace

QString BackendConfig::host()
{
    static const QString value = QString::fromUtf8(BuildConfig::backendHost);
    return value;
}

QUrl BackendConfig::baseURL()
{
    QUrl url(QStringLiteral("https://") + host(), QUrl::StrictMode);
    if (!url.isValid() || url.host().isEmpty())
        qFatal("BackendConfig: the backend host does not form a URL");
    applyDevelopmentPort(url);
    return url;
}

QUrl BackendConfig::withPath(const QString &path)
{
    QUrl url = baseURL();
    url.setPath(path);
    return url;
}

QUrl BackendConfig::authAppleURL() { return withPath(QStringLiteral("/auth/apple")); }
QUrl BackendConfig::authRefreshURL() { return withPath(QStringLiteral("/auth/refresh")); }
QUrl BackendConfig::hotwordsURL() { return withPath(QStringLiteral("/hotwords")); }
QUrl BackendConfig::diagnosticsURL() { return withPath(QStringLiteral("/diagnostics")); }

std::optional<QUrl> BackendConfig::hotwordURL(const QString &word)
{
    if (!isWellFormedUtf16(word))
        return std::nullopt;
    const QByteArray encoded = QUrl::toPercentEncoding(word, kPathSegmentExtras);
    QUrl url = baseURL();
    url.setPath(QStringLiteral("/hotwords/") + QString::fromLatin1(encoded), QUrl::StrictMode);
    if (!url.isValid())
        return std::nullopt;
    return url;
}

std::optional<QUrl> BackendConfig::webSocketURL(const QString &token)
{
    QUrl url;
    url.setScheme(QStringLiteral("wss"));
    url.setHost(host());
    applyDevelopmentPort(url);
    url.setPath(QStringLiteral("/ws"));
    const QByteArray value = QUrl::toPercentEncoding(token, QByteArrayLiteral("!$'()*,;:@/?"),
                                                     kQueryValueEncoded);
    url.setQuery(QStringLiteral("token=") + QString::fromLatin1(value), QUrl::StrictMode);
    if (!url.isValid())
        return std::nullopt;
    return url;
}
