// Runs token store operations in a process of its own, so a test can give it a session bus
// of its choosing (none, one without a keyring, one whose keyring never answers).
// Usage: tokenstore_probe [--timeout-ms N] OP...   with OP one of
//   write:TEXT   store TEXT as the access token
//   read         read the access token
//   delete       delete the access token
// Prints one line per operation: "<op> <result> <milliseconds>", result "none" or the text read.
#include "platform/Platform.h"
#include "platform/SecretStore.h"
#include "store/TokenStore.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTextStream>

#include <memory>

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QStringList args = app.arguments().mid(1);
    std::unique_ptr<SecretStore> bounded;
    if (args.size() >= 2 && args.first() == QLatin1String("--timeout-ms")) {
        bounded = Platform::secretStore(std::chrono::milliseconds(args.at(1).toInt()));
        TokenStore::setSecretStore(bounded.get());
        args = args.mid(2);
    }

    QTextStream out(stdout);
    for (const QString &op : std::as_const(args)) {
        QElapsedTimer timer;
        timer.start();
        QString result = QStringLiteral("-");
        if (op.startsWith(QLatin1String("write:"))) {
            TokenStore::setAccessToken(op.mid(6));
        } else if (op == QLatin1String("read")) {
            const std::optional<QString> token = TokenStore::accessToken();
            result = token ? *token : QStringLiteral("none");
        } else if (op == QLatin1String("delete")) {
            TokenStore::setAccessToken(std::nullopt);
        } else {
            out << "unknown operation " << op << Qt::endl;
            return 2;
        }
        out << op.section(QLatin1Char(':'), 0, 0) << ' ' << result << ' ' << timer.elapsed() << Qt::endl;
    }
    TokenStore::setSecretStore(nullptr);
    return 0;
}
