#include "store/HotWordsSettings.h"

#include <QSettings>

std::optional<QStringList> HotWordsSettings::cachedWords(const QSettings &settings)
{
    const QVariant stored = settings.value(QLatin1String(cacheKey));
    switch (stored.typeId()) {
    case QMetaType::QStringList:
        return stored.toStringList();
    case QMetaType::QString:
        // The settings file writes a list of one text as that text alone.
        return QStringList{stored.toString()};
    case QMetaType::QVariantList: {
        const QVariantList list = stored.toList();
        QStringList words;
        for (const QVariant &element : list) {
            if (element.typeId() != QMetaType::QString)
                return std::nullopt;
            words.append(element.toString());
        }
        return words;
    }
    default:
        return std::nullopt;
    }
}

std::optional<QList<PendingOp>> HotWordsSettings::pendingOps(const QSettings &settings)
{
    const QVariant stored = settings.value(QLatin1String(pendingKey));
    if (stored.typeId() != QMetaType::QByteArray)
        return std::nullopt;
    return PendingOp::decode(stored.toByteArray());
}
