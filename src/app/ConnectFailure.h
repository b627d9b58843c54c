#pragma once

#include <QString>

// Why one attempt to open the recognition socket failed.
class ConnectFailure {
public:
    enum class Kind { transport, unknown, unauthorized, timeout };

    // The socket reported an error before opening; the payload is its message.
    static ConnectFailure transport(QString message) { return {Kind::transport, std::move(message)}; }
    // The socket closed before opening for a reason that is not an authentication failure; the
    // payload is the close reason, or "code " and the close code when there is none.
    static ConnectFailure unknown(QString detail) { return {Kind::unknown, std::move(detail)}; }
    // The server refused the token.
    static ConnectFailure unauthorized() { return {Kind::unauthorized, {}}; }
    // Neither opened nor failed in time.
    static ConnectFailure timeout() { return {Kind::timeout, {}}; }

    Kind kind() const { return m_kind; }
    const QString &detail() const { return m_detail; }

    bool operator==(const ConnectFailure &) const = default;

    // Textual form for log lines: the case name with its payload, e.g. transport("Connection refused").
    QString describe() const
    {
        switch (m_kind) {
        case Kind::transport:
            return QStringLiteral("transport(\"%1\")").arg(m_detail);
        case Kind::unknown:
            return QStringLiteral("unknown(\"%1\")").arg(m_detail);
        case Kind::unauthorized:
            return QStringLiteral("unauthorized");
        case Kind::timeout:
            return QStringLiteral("timeout");
        }
        return {};
    }

private:
    ConnectFailure(Kind kind, QString detail) : m_kind(kind), m_detail(std::move(detail)) {}

    Kind m_kind;
    QString m_detail;
};
