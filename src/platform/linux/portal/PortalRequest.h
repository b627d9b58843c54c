#pragma once

#include <QDBusConnection>
#include <QObject>
#include <QString>
#include <QVariantMap>

#include <qcoro/qcorotask.h>

#include <chrono>
#include <optional>

// One request to the desktop portal: the org.freedesktop.portal.Request object whose Response
// signal carries the answer. The portal may answer as soon as it has replied to the call that
// made the request, so the object follows the request's path before that call is sent: the path is
// computed from the caller's unique bus name and the handle_token the call passes.
class PortalRequest : public QObject {
    Q_OBJECT
public:
    struct Answer {
        uint response = 2; // 0 success, 1 cancelled by the user, 2 ended some other way
        QVariantMap results;
    };

    // Starts following the request with the next token of this process; handleToken() is the
    // token to pass in the call's options.
    explicit PortalRequest(QDBusConnection bus, QObject *parent = nullptr);
    ~PortalRequest() override;

    QString handleToken() const { return m_token; }
    QString path() const { return m_path; }

    // Where the portal put an object for this connection: <base>/<sender>/<token>, the sender being
    // the unique bus name without its ':' and with '_' for every '.'.
    static QString objectPath(const QString &base, const QString &uniqueName, const QString &token);
    // A token no other request or session of this process has used.
    static QString nextToken(const QString &prefix);

    // Follows `path` instead, when the portal's reply names another one than the computed path.
    void follow(const QString &path);
    // The answer, once it came within `timeout`; none when it did not (the request is closed then).
    QCoro::Task<std::optional<Answer>> answer(std::chrono::milliseconds timeout);

Q_SIGNALS:
    void answered();

private Q_SLOTS:
    void onResponse(uint response, const QVariantMap &results);

private:
    bool subscribe(bool on);

    QDBusConnection m_bus;
    QString m_token;
    QString m_path;
    std::optional<Answer> m_answer;
};
