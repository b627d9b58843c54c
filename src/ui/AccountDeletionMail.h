#pragma once

#include <QString>
#include <QUrl>

#include <optional>

// The e-mail that asks support to delete the account: a mailto URL addressed to the support
// address, with a Chinese subject and body naming the user id (the access token's "sub" claim).
class AccountDeletionMail {
public:
    AccountDeletionMail() = delete;

    // The "sub" claim of the access token, or "未知" when there is no token or no such claim.
    static QString userId(const std::optional<QString> &accessToken);

    static QString subject(const QString &userId);
    static QString body(const QString &userId);

    // "mailto:" + address + "?subject=" + subject + "&body=" + body, subject and body
    // percent-encoded as URL query text. None when that text is not a valid URL (an address with
    // a space in it, say).
    static std::optional<QUrl> url(const QString &supportEmail, const QString &userId);

    // The UTF-8 bytes of `text` with every byte outside the characters a URL query allows
    // (letters, digits and -._~!$'()*+,;=:@/?) written as %XX, and "&" encoded as well: a raw "&"
    // inside the subject or body would end that field early and start a bogus one. Empty when
    // the text is not valid Unicode (an unpaired surrogate).
    static QString percentEncodedQueryValue(const QString &text);
};
