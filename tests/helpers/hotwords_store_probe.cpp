// Loads a hot words store from a settings file in a process of its own, so a test sees what a
// fresh launch reads back from disk (not the values this process still holds in memory).
// Usage: hotwords_store_probe SETTINGS_FILE [add:WORD | remove:WORD]...
// Edits are made offline (the client has no token) and so end up in the queue. Prints one JSON
// line: state {"words": [...], "pending": [{"add"|"delete": word}, ...], "pendingOpsCount": N}.
#include "net/HotWordsAPIClient.h"
#include "store/HotWordsStore.h"

#include <QCoreApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSettings>
#include <QTextStream>
#include <QTimer>

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments().mid(1);
    if (args.isEmpty())
        return 2;
    QSettings settings(args.first(), QSettings::IniFormat);
    HotWordsAPIClient client([] { return std::optional<QString>(); }, HotWordsAPIClient::Timeouts{});
    HotWordsStore store(client, settings);

    for (const QString &edit : args.mid(1)) {
        if (edit.startsWith(QLatin1String("add:")))
            store.add(edit.mid(4));
        else if (edit.startsWith(QLatin1String("remove:")))
            store.remove(edit.mid(7));
    }
    // Lets the (failing at once) server calls of the edits finish.
    QTimer::singleShot(0, &app, &QCoreApplication::quit);
    app.exec();

    QJsonArray pending;
    const QList<PendingOp> ops = store.pendingOps();
    for (const PendingOp &op : ops)
        pending.append(QJsonObject{{op.kind == PendingOp::Kind::add ? QStringLiteral("add") : QStringLiteral("delete"), op.word}});
    const QJsonObject state{{QStringLiteral("words"), QJsonArray::fromStringList(store.words())},
                            {QStringLiteral("pending"), pending},
                            {QStringLiteral("pendingOpsCount"), store.pendingOpsCount()}};
    QTextStream(stdout) << "state " << QJsonDocument(state).toJson(QJsonDocument::Compact) << Qt::endl;
    return 0;
}
