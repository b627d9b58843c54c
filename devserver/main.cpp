// murlex-devserver: the local TLS stand-in for the Murlex backend. See README.md beside this file.

#include "BackendServer.h"
#include "BackendState.h"
#include "platform/Platform.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFile>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QSslKey>

#include <csignal>
#include <cstdio>
#include <sys/prctl.h>

namespace {

std::optional<QSslConfiguration> loadTls(const QString &certPath, const QString &keyPath, QString *error)
{
    const QList<QSslCertificate> chain = QSslCertificate::fromPath(certPath, QSsl::Pem);
    if (chain.isEmpty()) {
        *error = QStringLiteral("no certificate in ") + certPath;
        return std::nullopt;
    }
    QFile keyFile(keyPath);
    if (!keyFile.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("cannot read ") + keyPath;
        return std::nullopt;
    }
    const QByteArray keyPem = keyFile.readAll();
    QSslKey key(keyPem, QSsl::Rsa, QSsl::Pem);
    if (key.isNull())
        key = QSslKey(keyPem, QSsl::Ec, QSsl::Pem);
    if (key.isNull()) {
        *error = QStringLiteral("no RSA or EC private key in ") + keyPath;
        return std::nullopt;
    }
    QSslConfiguration configuration = QSslConfiguration::defaultConfiguration();
    configuration.setLocalCertificateChain(chain);
    configuration.setPrivateKey(key);
    configuration.setPeerVerifyMode(QSslSocket::VerifyNone);
    configuration.setProtocol(QSsl::SecureProtocols);
    return configuration;
}

} // namespace

int main(int argc, char *argv[])
{
    // A stand-in outlives nobody: when whoever started it dies (a test that aborted), it stops too.
    ::prctl(PR_SET_PDEATHSIG, SIGTERM);
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("murlex-devserver"));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Local TLS stand-in for the Murlex backend."));
    parser.addHelpOption();
    const QCommandLineOption portOption(QStringLiteral("port"), QStringLiteral("Port to listen on (0: any free port)."),
                                        QStringLiteral("N"), QStringLiteral("8443"));
    const QCommandLineOption bindOption(QStringLiteral("bind"), QStringLiteral("Address to listen on."),
                                        QStringLiteral("ADDRESS"), QStringLiteral("127.0.0.1"));
    const QCommandLineOption certOption(QStringLiteral("cert"), QStringLiteral("PEM server certificate (chain)."),
                                        QStringLiteral("FILE"), QStringLiteral(MURLEX_DEVCERT_DIR "/server.pem"));
    const QCommandLineOption keyOption(QStringLiteral("key"), QStringLiteral("PEM private key of the certificate."),
                                       QStringLiteral("FILE"), QStringLiteral(MURLEX_DEVCERT_DIR "/server.key"));
    const QCommandLineOption lifetimeOption(QStringLiteral("access-lifetime"),
                                            QStringLiteral("Lifetime of issued access tokens, in seconds."),
                                            QStringLiteral("SECONDS"), QStringLiteral("3600"));
    parser.addOptions({portOption, bindOption, certOption, keyOption, lifetimeOption});
    parser.process(app);

    bool portOk = false;
    const uint port = parser.value(portOption).toUInt(&portOk);
    bool lifetimeOk = false;
    const qint64 lifetime = parser.value(lifetimeOption).toLongLong(&lifetimeOk);
    const QHostAddress address(parser.value(bindOption));
    if (!portOk || port > 65535 || !lifetimeOk || address.isNull()) {
        std::fprintf(stderr, "murlex-devserver: bad --port, --bind or --access-lifetime\n");
        return 2;
    }

    QString error;
    const auto tls = loadTls(parser.value(certOption), parser.value(keyOption), &error);
    if (!tls) {
        std::fprintf(stderr, "murlex-devserver: %s\n", qPrintable(error));
        return 1;
    }
    if (!Platform::quitOnTerminationSignals(app, [] { qInfo("murlex-devserver: termination signal, stopping"); })) {
        std::fprintf(stderr, "murlex-devserver: cannot install signal handlers\n");
        return 1;
    }

    BackendState state(lifetime);
    BackendServer server(state);
    server.sslSetup(*tls);  // must precede listen(), or the port stays plain HTTP
    const quint16 boundPort = server.listen(address, quint16(port));
    if (boundPort == 0) {
        std::fprintf(stderr, "murlex-devserver: cannot listen on %s port %u\n", qPrintable(address.toString()), port);
        return 1;
    }

    std::printf("murlex-devserver ready on port %u\n", unsigned(boundPort));
    std::fflush(stdout);
    const int status = app.exec();
    return status;
}
