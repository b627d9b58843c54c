#pragma once

#include "core/AppIdentity.h"
#include "store/PendingOp.h"

#include <QList>
#include <QStringList>

#include <optional>

class QSettings;

// Where the hot words store keeps its list and its queue in the settings, and how it reads them
// back at launch. A value that is not what the store writes (a hand-edited or damaged file) reads
// as none, so the store starts without it.
struct HotWordsSettings {
    HotWordsSettings() = delete;

    static constexpr auto cacheKey = AppIdentity::qualified("hotwords.cache");
    static constexpr auto pendingKey = AppIdentity::qualified("hotwords.pending");

    // The cached list: a list of texts (the settings file writes a list of one text as that text).
    static std::optional<QStringList> cachedWords(const QSettings &settings);
    // The queue: PendingOp's JSON form as bytes.
    static std::optional<QList<PendingOp>> pendingOps(const QSettings &settings);
};
