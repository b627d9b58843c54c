#pragma once

#include <QByteArray>
#include <QStringList>

#include <optional>

// The bodies the hot words endpoints answer a successful request with. Each reader gives none
// when the body is not a JSON object holding the member it needs with the right type.
struct HotWordsAnswer {
    HotWordsAnswer() = delete;

    // GET /hotwords: {"hotwords": [text, …]}; every element must be a text.
    static std::optional<QStringList> list(const QByteArray &body);
    // POST /hotwords: {"saved": bool}.
    static std::optional<bool> saved(const QByteArray &body);
};
