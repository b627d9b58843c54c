#pragma once

#include <QMetaType>
#include <QString>

// Where the dictation stands, as the whole application sees it. `error` carries the message
// the user is shown; every other phase carries nothing.
class Phase {
public:
    enum class Kind { idle, recording, finalizing, polishing, injecting, error };

    Phase() = default; // idle

    static Phase idle() { return Phase(Kind::idle); }
    static Phase recording() { return Phase(Kind::recording); }
    static Phase finalizing() { return Phase(Kind::finalizing); }
    static Phase polishing() { return Phase(Kind::polishing); }
    static Phase injecting() { return Phase(Kind::injecting); }
    static Phase error(QString message) { return Phase(Kind::error, std::move(message)); }

    Kind kind() const { return m_kind; }
    bool isError() const { return m_kind == Kind::error; }
    // The message of an error phase; empty for every other phase.
    const QString &message() const { return m_message; }

    // Equal when the cases are equal and, for errors, the messages too.
    bool operator==(const Phase &other) const = default;

    // Textual form for log lines: the case name, and for an error the quoted message,
    // e.g. finalizing or error("连接断开，请重试").
    QString describe() const;

private:
    explicit Phase(Kind kind, QString message = {}) : m_kind(kind), m_message(std::move(message)) {}

    Kind m_kind = Kind::idle;
    QString m_message;
};

Q_DECLARE_METATYPE(Phase)
