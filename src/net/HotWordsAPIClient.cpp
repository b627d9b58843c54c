#include "net/HotWordsAPIClient.h"

#include "core/StrictUtf8.h"
#include "net/BackendConfig.h"
#include "net/HotWordsAnswer.h"
#include "net/NetworkAccess.h"
#include "net/RestReply.h"
#include "store/TokenStore.h"

#include <QCoroNetworkReply>
#include <QJsonArray>
#include <QJsonDocument>
#include <QNetworkReply>
#include <QTimer>

#include <memory>

namespace {

// Set on a reply this client aborts itself because the client goes away. Any other cancelled
// reply ran out of time: the session's idle limit cancels it just the same, and so does the
// whole-request limit below.
constexpr const char *teardownProperty = "murlexClientGone";

PlatformError timedOut()
{
    return PlatformError{QStringLiteral("QNetworkReply"), int(QNetworkReply::TimeoutError), QStringLiteral("Operation timed out")};
}

HotWordsFailure failure(APIError error) { return HotWordsFailure(std::move(error)); }

} // namespace

HotWordsAPIClient::TokenProvider HotWordsAPIClient::storedAccessToken()
{
    return [] { return TokenStore::accessToken(); };
}

HotWordsAPIClient::HotWordsAPIClient(QObject *parent)
    : HotWordsAPIClient(storedAccessToken(), Timeouts{}, parent)
{
}

HotWordsAPIClient::HotWordsAPIClient(TokenProvider tokenProvider, Timeouts timeouts, QObject *parent)
    : QObject(parent)
    , m_session(NetworkAccess::shared()->createSession(this))
    , m_tokenProvider(std::move(tokenProvider))
    , m_timeouts(timeouts)
{
    m_session->setTransferTimeout(int(m_timeouts.session.count()));
}

HotWordsAPIClient::~HotWordsAPIClient()
{
    // A reply deleted with its session would never finish, leaving its caller waiting forever.
    const QList<QNetworkReply *> running = m_session->findChildren<QNetworkReply *>();
    for (QNetworkReply *reply : running) {
        reply->setProperty(teardownProperty, true);
        reply->abort();
    }
}

QString HotWordsAPIClient::bodyText(const QByteArray &body)
{
    return StrictUtf8::decode(body).value_or(QString());
}

Expected<QNetworkRequest, HotWordsFailure> HotWordsAPIClient::authorisedRequest(const QUrl &url) const
{
    const std::optional<QString> token = m_tokenProvider ? m_tokenProvider() : std::nullopt;
    if (!token || token->isEmpty())
        return failure(APIError::noToken());
    QNetworkRequest request(url);
    request.setRawHeader(QByteArrayLiteral("Authorization"), QByteArrayLiteral("Bearer ") + token->toUtf8());
    return request;
}

QCoro::Task<Expected<HotWordsAPIClient::Response, HotWordsFailure>>
HotWordsAPIClient::send(QNetworkRequest request, QByteArray verb, QByteArray body)
{
    QNetworkReply *started = nullptr;
    if (verb == "POST")
        started = m_session->post(request, body);
    else if (verb == "DELETE")
        started = m_session->deleteResource(request);
    else
        started = m_session->get(request);
    const RestReply::Owned reply(started);

    QTimer::singleShot(m_timeouts.request, reply.get(), &QNetworkReply::abort);
    if (!reply->isFinished())
        co_await reply.get();
    // From here on only the reply is touched: the client may be gone by now.

    if (reply->error() == QNetworkReply::OperationCanceledError && !reply->property(teardownProperty).toBool() &&
        !RestReply::bodyTooLarge(*reply))
        co_return failure(APIError::network(timedOut()));
    const QVariant status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    if (RestReply::isTransportError(*reply) || (!status.isValid() && reply->error() != QNetworkReply::NoError))
        co_return failure(APIError::network(RestReply::platformError(*reply)));
    if (!status.isValid())
        co_return failure(APIError::decode());
    co_return Response{status.toInt(), reply->readAll()};
}

QCoro::Task<Expected<QStringList, HotWordsFailure>> HotWordsAPIClient::fetch()
{
    Expected<QNetworkRequest, HotWordsFailure> request = authorisedRequest(BackendConfig::hotwordsURL());
    if (!request)
        co_return request.error();
    Expected<Response, HotWordsFailure> response = co_await send(request.value(), QByteArrayLiteral("GET"));
    if (!response)
        co_return response.error();
    if (response->status != 200)
        co_return failure(APIError::http(response->status, bodyText(response->body)));

    std::optional<QStringList> words = HotWordsAnswer::list(response->body);
    if (!words)
        co_return failure(APIError::decode());
    co_return *words;
}

QCoro::Task<Expected<bool, HotWordsFailure>> HotWordsAPIClient::add(QString word)
{
    Expected<QNetworkRequest, HotWordsFailure> request = authorisedRequest(BackendConfig::hotwordsURL());
    if (!request)
        co_return request.error();
    // The JSON writer would replace an unpaired surrogate and so send another word than asked.
    if (!word.isValidUtf16()) {
        co_return HotWordsFailure(PlatformError{QStringLiteral("QJsonDocument"), 1,
                                                QStringLiteral("热词不是有效的 Unicode 文本")});
    }
    request.value().setHeader(QNetworkRequest::ContentTypeHeader, QByteArrayLiteral("application/json"));
    const QByteArray body = QJsonDocument(QJsonObject{{QStringLiteral("word"), word}}).toJson(QJsonDocument::Compact);

    Expected<Response, HotWordsFailure> response = co_await send(request.value(), QByteArrayLiteral("POST"), body);
    if (!response)
        co_return response.error();
    if (response->status != 200 && response->status != 201)
        co_return failure(APIError::http(response->status, bodyText(response->body)));

    const std::optional<bool> saved = HotWordsAnswer::saved(response->body);
    if (!saved)
        co_return failure(APIError::decode());
    co_return *saved;
}

QCoro::Task<Expected<Done, HotWordsFailure>> HotWordsAPIClient::deleteWord(QString word)
{
    const std::optional<QUrl> url = BackendConfig::hotwordURL(word);
    if (!url)
        co_return failure(APIError::http(400, QStringLiteral("invalid word for URL encode")));
    Expected<QNetworkRequest, HotWordsFailure> request = authorisedRequest(*url);
    if (!request)
        co_return request.error();

    Expected<Response, HotWordsFailure> response = co_await send(request.value(), QByteArrayLiteral("DELETE"));
    if (!response)
        co_return response.error();
    if (response->status != 204)
        co_return failure(APIError::http(response->status, bodyText(response->body)));
    co_return Done{};
}
