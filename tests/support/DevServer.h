#pragma once

#include <QByteArray>
#include <QJsonArray>
#include <QJsonObject>
#include <QList>
#include <QNetworkAccessManager>
#include <QObject>
#include <QProcess>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QString>
#include <QStringList>
#include <QUrl>

#include <optional>

// A running murlex-devserver (the local TLS stand-in for the backend) for one test suite, plus
// synchronous helpers over its loopback control API. Every helper blocks in a nested event loop
// (at most 10 s) and reports failure with its return value; none of them counts as a request in
// requestCount(). devserver/README.md describes the server, its recogniser text and every fault.
//
//     DevServer server;
//     QVERIFY(server.start());
//     RedirectingNetworkAccess access(server.port(), DevServer::caCertificates());
//     const auto tokens = server.issueTokens("alice");
class DevServer : public QObject
{
    Q_OBJECT
public:
    struct Tokens
    {
        QString access;
        QString refresh;
    };

    // Answer the next `count` requests whose method matches and whose raw (still percent-encoded) path
    // starts with `path`: with `status` and `body` (status 0: the real answer), after `delayMs`, or
    // never when `stall`. Several faults may be pending; the first match is used.
    struct RestFault
    {
        QByteArray method{};
        QString path{};
        int status = 0;
        QByteArray body{};        // sent as text/plain; a JSON object text is sent as application/json
        int delayMs = 0;
        bool stall = false;
        qint64 padBytes = 0;      // spaces appended to the answer's body
        int count = 1;            // -1: every matching request until reset()
    };

    // Misbehaviour of the recognition socket for the next `count` upgrade requests to /ws. Every fault
    // pending when a connection arrives applies to it, in the order they were set.
    struct SocketFault
    {
        enum class Action {
            Refuse,      // answer the upgrade with HTTP 403
            Close,       // close with closeCode / closeReason at `when`
            DelayFinal,  // send asr_done and polish_done delayMs after "stop"
            NoFinal,     // never send asr_done and polish_done
            Send,        // send textFrames, then binaryFrames, at `when` (before the finals for Stop)
        };
        enum class When { Connect, Start, Stop };

        Action action = Action::Refuse;
        When when = When::Connect;
        int closeCode = 1000;
        QString closeReason{};
        std::optional<QByteArray> closePayload{}; // Close: this close-frame payload verbatim instead
        int delayMs = 0;
        int stops = 0;            // DelayFinal: only the first this many stops of the connection (0: all)
        QStringList textFrames{};
        QList<QByteArray> binaryFrames{};
        int count = 1;            // -1: every connection until reset()
    };

    explicit DevServer(QObject *parent = nullptr);
    // Stops the server (SIGTERM, then waits) if it is still running.
    ~DevServer() override;

    // Launches the server on a free loopback port and waits for its ready line. `extraArgs` are added
    // to the command line (e.g. {"--access-lifetime", "200"}).
    bool start(const QStringList &extraArgs = {});
    // Sends SIGTERM and waits; true when the server exited by itself with status 0 (under the
    // sanitizers that also means it leaked nothing).
    bool stop();

    // The port the server listens on (127.0.0.1), 0 before start().
    quint16 port() const { return m_port; }
    // https://127.0.0.1:<port>, for tests that talk to the server directly.
    QUrl baseUrl() const;

    // The development CA that signed the server's certificate (for localhost and 127.0.0.1).
    static QList<QSslCertificate> caCertificates();

    // Fresh access and refresh tokens for `subject`; the access token expires after
    // `accessLifetimeSeconds` (0 or less: already expired). Empty tokens on failure.
    Tokens issueTokens(const QString &subject, qint64 accessLifetimeSeconds = 3600);

    // Queues a fault; e.g. setRestFault({.method = "POST", .path = "/auth/refresh", .status = 401}).
    bool setRestFault(const RestFault &fault);
    // Queues a fault; e.g. setSocketFault({.action = SocketFault::Action::NoFinal}).
    bool setSocketFault(const SocketFault &fault);

    // How many requests with this method and raw path (exact match, no query, e.g. "/hotwords/a%2Fb")
    // the server received since start or reset(); upgrades count as "GET" "/ws". -1 on failure.
    int requestCount(const QByteArray &method, const QString &path);

    // Every accepted POST /diagnostics body, in arrival order.
    QList<QJsonObject> diagnostics();
    // The server's hot words of `subject`, in order.
    QStringList hotWords(const QString &subject);
    // Replaces the server's hot words of `subject` (for tests that start from a server-side list).
    bool setHotWords(const QString &subject, const QStringList &words);

    // One object per WebSocket connection since start or reset(), in order of arrival: what the client
    // sent (text messages verbatim, and per dictation the hot words, frame sizes, byte count and
    // CLOCK_MONOTONIC nanosecond timestamps) and how it ended. Format in devserver/README.md.
    QJsonArray socketRecording();

    // Forgets faults, counters, hot words, diagnostics, recordings and known identities. Tokens issued
    // earlier stay valid.
    bool reset();

private:
    struct Response
    {
        int status = 0;
        QByteArray body;
    };
    std::optional<Response> call(const QByteArray &method, const QString &pathAndQuery,
                                 const QJsonObject &body = {});
    std::optional<QJsonObject> getJson(const QString &pathAndQuery);

    QProcess m_process;
    QNetworkAccessManager m_network;
    QSslConfiguration m_tls;
    quint16 m_port = 0;
};
