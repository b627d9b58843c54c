// Development flavour only: signs the local user in against murlex-devserver, the way the sign-in
// screen will, by exchanging a throwaway identity token for the stand-in's access and refresh
// tokens, which go into the keyring. Usage: murlex-dev-signin [identity]  (default: $USER)
#include "app/AppLogger.h"
#include "core/AppIdentity.h"
#include "net/AuthClient.h"
#include "net/BackendConfig.h"

#include "BuildConfig.h"

#include <QCoreApplication>
#include <QCoro/QCoroTask>

#include <cstdio>
#include <variant>

#if !MURLEX_DEV_BACKEND
#error "murlex-dev-signin exists only in the development flavour"
#endif

namespace {
QCoro::Task<> signIn(QString identity)
{
    const auto result = co_await AuthClient::signInWithApple(identity);
    if (result) {
        std::printf("murlex-dev-signin: signed in as %s against %s\n", qUtf8Printable(identity),
                    qUtf8Printable(BackendConfig::baseURL().toString()));
        QCoreApplication::exit(0);
    } else {
        std::fprintf(stderr, "murlex-dev-signin: sign-in failed: %s\n",
                     qUtf8Printable(std::visit([](const auto &error) { return error.describe(); }, result.error())));
        QCoreApplication::exit(1);
    }
}
} // namespace

int main(int argc, char *argv[])
{
    AppLogger::installMessagePattern();
    QCoreApplication app(argc, argv);
    AppIdentity::install();
    QString identity = app.arguments().value(1);
    if (identity.isEmpty())
        identity = qEnvironmentVariable("USER", QStringLiteral("dev-user"));
    QMetaObject::invokeMethod(&app, [identity] { signIn(identity); }, Qt::QueuedConnection);
    return app.exec();
}
