#pragma once

#include <QByteArray>
#include <QString>

#include <optional>

// UTF-8 decoding that refuses what is not UTF-8 instead of repairing it: malformed or truncated
// sequences, overlong forms and encoded surrogates give none. A leading byte order mark is kept
// as a character, so the text holds exactly the bytes it was made of.
struct StrictUtf8 {
    static std::optional<QString> decode(const QByteArray &bytes);
};
