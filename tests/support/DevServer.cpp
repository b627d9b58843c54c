#include "DevServer.h"

#include <QDeadlineTimer>
#include <QEventLoop>
#include <QJsonDocument>
#include <QNetworkProxy>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QSslConfiguration>

namespace {

constexpr int kStartTimeoutMs = 30000;  // a sanitizer build starts slowly on a busy machine
constexpr int kCallTimeoutMs = 10000;

// The control API's names of the fault enums, in declaration order.
const char *const kWhenNames[] = {"connect", "start", "stop"};
const char *const kActionNames[] = {"refuse", "close", "delay_final", "no_final", "send"};

} // namespace

DevServer::DevServer(QObject *parent) : QObject(parent)
{
    // The server's log goes straight to the test's stderr, so a failing test shows both sides.
    m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    m_tls = QSslConfiguration::defaultConfiguration();
    m_tls.setCaCertificates(caCertificates());  // replaces the system CAs: only the dev CA is trusted
    m_network.setProxy(QNetworkProxy::NoProxy);
}

DevServer::~DevServer()
{
    stop();
}

QList<QSslCertificate> DevServer::caCertificates()
{
    return QSslCertificate::fromPath(QStringLiteral(MURLEX_DEVCERT_DIR "/ca.pem"), QSsl::Pem);
}

QUrl DevServer::baseUrl() const
{
    return QUrl(QStringLiteral("https://127.0.0.1:%1").arg(m_port));
}

bool DevServer::start(const QStringList &extraArgs)
{
    if (m_process.state() != QProcess::NotRunning)
        return false;
    m_port = 0;
    m_process.start(QStringLiteral(MURLEX_DEVSERVER_PATH), QStringList{QStringLiteral("--port"), QStringLiteral("0")} + extraArgs);
    if (!m_process.waitForStarted(kStartTimeoutMs)) {
        qWarning("DevServer: cannot launch %s: %s", MURLEX_DEVSERVER_PATH, qPrintable(m_process.errorString()));
        return false;
    }
    const QDeadlineTimer deadline(kStartTimeoutMs);
    while (!m_process.canReadLine()) {
        if (deadline.hasExpired() || m_process.state() != QProcess::Running
            || !m_process.waitForReadyRead(int(deadline.remainingTime()))) {
            if (m_process.canReadLine())
                break;
            qWarning("DevServer: no ready line from the server");
            stop();
            return false;
        }
    }
    const QByteArray line = m_process.readLine().trimmed();
    static const QByteArray prefix = "murlex-devserver ready on port ";
    bool ok = false;
    const uint port = line.startsWith(prefix) ? line.mid(prefix.size()).toUInt(&ok) : 0;
    if (!ok || port == 0 || port > 65535) {
        qWarning("DevServer: unexpected first line %s", line.constData());
        stop();
        return false;
    }
    m_port = quint16(port);
    return true;
}

bool DevServer::stop()
{
    if (m_process.state() == QProcess::NotRunning)
        return false;
    m_process.terminate();
    if (!m_process.waitForFinished(kCallTimeoutMs)) {
        qWarning("DevServer: the server ignored SIGTERM, killing it");
        m_process.kill();
        m_process.waitForFinished(kCallTimeoutMs);
        return false;
    }
    m_port = 0;
    return m_process.exitStatus() == QProcess::NormalExit && m_process.exitCode() == 0;
}

std::optional<DevServer::Response> DevServer::call(const QByteArray &method, const QString &pathAndQuery,
                                                   const QJsonObject &body)
{
    if (m_port == 0)
        return std::nullopt;
    QNetworkRequest request(QUrl(baseUrl().toString() + pathAndQuery));
    request.setSslConfiguration(m_tls);
    request.setTransferTimeout(kCallTimeoutMs);
    QByteArray payload;
    if (method == "POST" || method == "PUT") {
        request.setHeader(QNetworkRequest::ContentTypeHeader, QByteArrayLiteral("application/json"));
        payload = QJsonDocument(body).toJson(QJsonDocument::Compact);
    }
    QNetworkReply *reply = m_network.sendCustomRequest(request, method, payload);
    QEventLoop loop;
    connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
    loop.exec();
    reply->deleteLater();
    if (reply->error() != QNetworkReply::NoError
        && reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).isNull()) {
        qWarning("DevServer: %s %s failed: %s", method.constData(), qPrintable(pathAndQuery),
                 qPrintable(reply->errorString()));
        return std::nullopt;
    }
    return Response{reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt(), reply->readAll()};
}

std::optional<QJsonObject> DevServer::getJson(const QString &pathAndQuery)
{
    const auto response = call("GET", pathAndQuery);
    if (!response || response->status != 200)
        return std::nullopt;
    return QJsonDocument::fromJson(response->body).object();
}

DevServer::Tokens DevServer::issueTokens(const QString &subject, qint64 accessLifetimeSeconds)
{
    const auto response = call("POST", QStringLiteral("/_control/tokens"),
                               {{QStringLiteral("sub"), subject}, {QStringLiteral("access_lifetime"), accessLifetimeSeconds}});
    if (!response || response->status != 200)
        return {};
    const QJsonObject json = QJsonDocument::fromJson(response->body).object();
    return {json.value(QStringLiteral("access_token")).toString(), json.value(QStringLiteral("refresh_token")).toString()};
}

bool DevServer::setRestFault(const RestFault &fault)
{
    QJsonObject json{
        {QStringLiteral("method"), QString::fromLatin1(fault.method)},
        {QStringLiteral("path"), fault.path},
        {QStringLiteral("status"), fault.status},
        {QStringLiteral("delay_ms"), fault.delayMs},
        {QStringLiteral("stall"), fault.stall},
        {QStringLiteral("count"), fault.count},
        {QStringLiteral("pad_bytes"), double(fault.padBytes)},
    };
    if (!fault.body.isEmpty()) {
        const QJsonDocument asJson = QJsonDocument::fromJson(fault.body);
        json.insert(QStringLiteral("body"), asJson.isObject() ? QJsonValue(asJson.object())
                                                               : QJsonValue(QString::fromUtf8(fault.body)));
    }
    const auto response = call("POST", QStringLiteral("/_control/rest-faults"), json);
    return response && response->status == 204;
}

bool DevServer::setSocketFault(const SocketFault &fault)
{
    QJsonArray frames;
    for (const QString &text : fault.textFrames)
        frames.append(QJsonObject{{QStringLiteral("text"), text}});
    for (const QByteArray &binary : fault.binaryFrames)
        frames.append(QJsonObject{{QStringLiteral("binary_base64"), QString::fromLatin1(binary.toBase64())}});
    QJsonObject json{
        {QStringLiteral("action"), QLatin1String(kActionNames[int(fault.action)])},
        {QStringLiteral("when"), QLatin1String(kWhenNames[int(fault.when)])},
        {QStringLiteral("code"), fault.closeCode},
        {QStringLiteral("reason"), fault.closeReason},
        {QStringLiteral("delay_ms"), fault.delayMs},
        {QStringLiteral("stops"), fault.stops},
        {QStringLiteral("frames"), frames},
        {QStringLiteral("count"), fault.count},
    };
    if (fault.closePayload)
        json.insert(QStringLiteral("payload_base64"), QString::fromLatin1(fault.closePayload->toBase64()));
    const auto response = call("POST", QStringLiteral("/_control/socket-faults"), json);
    return response && response->status == 204;
}

int DevServer::requestCount(const QByteArray &method, const QString &path)
{
    const auto json = getJson(QStringLiteral("/_control/stats"));
    if (!json)
        return -1;
    return json->value(QStringLiteral("requests")).toObject().value(QString::fromLatin1(method) + QLatin1Char(' ') + path).toInt(0);
}

QList<QJsonObject> DevServer::diagnostics()
{
    QList<QJsonObject> bodies;
    const auto json = getJson(QStringLiteral("/_control/diagnostics"));
    if (!json)
        return bodies;
    for (const QJsonValue &entry : json->value(QStringLiteral("diagnostics")).toArray())
        bodies.append(entry.toObject().value(QStringLiteral("body")).toObject());
    return bodies;
}

QStringList DevServer::hotWords(const QString &subject)
{
    const auto json = getJson(QStringLiteral("/_control/hotwords?sub=") + QString::fromLatin1(QUrl::toPercentEncoding(subject)));
    QStringList words;
    if (json) {
        for (const QJsonValue &word : json->value(QStringLiteral("hotwords")).toArray())
            words.append(word.toString());
    }
    return words;
}

bool DevServer::setHotWords(const QString &subject, const QStringList &words)
{
    const auto response = call("PUT", QStringLiteral("/_control/hotwords"),
                               {{QStringLiteral("sub"), subject}, {QStringLiteral("hotwords"), QJsonArray::fromStringList(words)}});
    return response && response->status == 204;
}

QJsonArray DevServer::socketRecording()
{
    const auto json = getJson(QStringLiteral("/_control/sockets"));
    return json ? json->value(QStringLiteral("connections")).toArray() : QJsonArray{};
}

bool DevServer::reset()
{
    const auto response = call("POST", QStringLiteral("/_control/reset"));
    return response && response->status == 204;
}
