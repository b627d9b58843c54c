#pragma once

#include "net/HotWordsAPI.h"

#include <QByteArray>
#include <QNetworkRequest>
#include <QObject>
#include <QUrl>

#include <chrono>
#include <functional>
#include <optional>

class NetworkAccess;

// The REST client of the user's hot words: list, add one, delete one, each with the stored access
// token as a bearer credential. It sends through a session of its own (made from the shared
// network access, so a test transport carries over), keeps nothing, never retries and never
// refreshes a token: an expired token comes back as http(401, …). It logs nothing.
//
// Two limits bound every request: the session gives up on a request that makes no progress for
// `sessionTimeout`, and no request may take longer than `requestTimeout` altogether. Either ends
// as a network failure.
class HotWordsAPIClient : public QObject, public HotWordsAPI {
    Q_OBJECT
public:
    // The access token to send, read before each request; none or empty means not signed in.
    using TokenProvider = std::function<std::optional<QString>()>;

    static constexpr std::chrono::milliseconds sessionTimeout{15000};
    static constexpr std::chrono::milliseconds requestTimeout{60000};

    struct Timeouts {
        std::chrono::milliseconds session = sessionTimeout;
        std::chrono::milliseconds request = requestTimeout;
    };

    // Reads TokenStore::accessToken() before each request.
    static TokenProvider storedAccessToken();

    explicit HotWordsAPIClient(QObject *parent = nullptr);
    HotWordsAPIClient(TokenProvider tokenProvider, Timeouts timeouts, QObject *parent = nullptr);
    // Requests still running end as network failures (cancelled) before the session goes away.
    ~HotWordsAPIClient() override;

    QCoro::Task<Expected<QStringList, HotWordsFailure>> fetch() override;
    QCoro::Task<Expected<bool, HotWordsFailure>> add(QString word) override;
    QCoro::Task<Expected<Done, HotWordsFailure>> deleteWord(QString word) override;

    // The body a failed request carried, as the error text (empty when it is not UTF-8).
    static QString bodyText(const QByteArray &body);

private:
    struct Response {
        int status = 0;
        QByteArray body;
    };

    // A request for `url` with the bearer token, or noToken when there is none.
    Expected<QNetworkRequest, HotWordsFailure> authorisedRequest(const QUrl &url) const;
    // Sends the request and waits for the whole answer; any HTTP status is a Response.
    QCoro::Task<Expected<Response, HotWordsFailure>> send(QNetworkRequest request, QByteArray verb,
                                                          QByteArray body = {});

    NetworkAccess *m_session;
    TokenProvider m_tokenProvider;
    Timeouts m_timeouts;
};
