#include "ui/AccountDeletionMail.h"

#include "core/StrictUtf8.h"
#include "store/JWT.h"

#include <QStringList>

#include <string_view>

namespace {

bool allowedInQueryValue(char c)
{
    if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'))
        return true;
    static constexpr std::string_view others = "-._~!$'()*+,;=:@/?";
    return others.find(c) != std::string_view::npos;
}

} // namespace

QString AccountDeletionMail::userId(const std::optional<QString> &accessToken)
{
    if (accessToken) {
        if (std::optional<QString> subject = JWT::subject(*accessToken))
            return *subject;
    }
    return QStringLiteral("未知");
}

QString AccountDeletionMail::subject(const QString &userId)
{
    return QStringLiteral("删除账户：") + userId;
}

QString AccountDeletionMail::body(const QString &userId)
{
    const QStringList lines{
        QStringLiteral("你好，"),
        QString(),
        QStringLiteral("我希望删除我的 Murlex Mac 账户及所有相关数据（热词、账户信息）。"),
        QString(),
        QStringLiteral("账户信息："),
        QStringLiteral("- Murlex 用户 ID：") + userId,
        QString(),
        QStringLiteral("请在收到邮件后 7-14 个工作日内完成删除，并回复确认邮件。"),
        QString(),
        QStringLiteral("谢谢。"),
    };
    return lines.join(QLatin1Char('\n'));
}

QString AccountDeletionMail::percentEncodedQueryValue(const QString &text)
{
    const QByteArray bytes = text.toUtf8();
    // toUtf8() replaces an unpaired surrogate instead of failing: such a text does not survive
    // the round trip.
    if (StrictUtf8::decode(bytes) != text)
        return {};
    static constexpr char hex[] = "0123456789ABCDEF";
    QString encoded;
    encoded.reserve(bytes.size() * 3);
    for (const char c : bytes) {
        if (allowedInQueryValue(c)) {
            encoded += QLatin1Char(c);
        } else {
            const auto byte = static_cast<unsigned char>(c);
            encoded += QLatin1Char('%');
            encoded += QLatin1Char(hex[byte >> 4]);
            encoded += QLatin1Char(hex[byte & 0xF]);
        }
    }
    return encoded;
}

std::optional<QUrl> AccountDeletionMail::url(const QString &supportEmail, const QString &userId)
{
    const QString text = QStringLiteral("mailto:") + supportEmail + QStringLiteral("?subject=")
        + percentEncodedQueryValue(subject(userId)) + QStringLiteral("&body=") + percentEncodedQueryValue(body(userId));
    QUrl url(text, QUrl::StrictMode);
    if (!url.isValid() || url.scheme() != QLatin1String("mailto"))
        return std::nullopt;
    return url;
}
