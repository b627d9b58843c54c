#pragma once

#include "core/Expected.h"
#include "core/PlatformError.h"
#include "net/APIError.h"

#include <QCoro/QCoroTask>
#include <QString>
#include <QStringList>

#include <variant>

// A failure of a hot words call: an APIError, or an error that is not the client's own (a word
// that cannot be encoded, say), passed through unchanged.
using HotWordsFailure = std::variant<APIError, PlatformError>;

// The user's hot word list on the backend: what HotWordsStore talks to. HotWordsAPIClient is the
// real one. Every call finishes with a result or a failure; none throws.
class HotWordsAPI {
public:
    virtual ~HotWordsAPI() = default;

    // GET /hotwords: the server's list, in server order.
    virtual QCoro::Task<Expected<QStringList, HotWordsFailure>> fetch() = 0;
    // POST /hotwords {"word": word}: the server's "saved" flag.
    virtual QCoro::Task<Expected<bool, HotWordsFailure>> add(QString word) = 0;
    // DELETE /hotwords/<word as one encoded path segment>.
    virtual QCoro::Task<Expected<Done, HotWordsFailure>> deleteWord(QString word) = 0;
};
