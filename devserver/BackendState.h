#pragma once

#include "FaultPlan.h"
#include "TokenIssuer.h"

#include <QHash>
#include <QJsonArray>
#include <QJsonObject>
#include <QList>
#include <QMap>
#include <QSet>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <memory>
#include <utility>

// What the socket saw of one dictation (one "start" up to its final events). Timestamps are
// CLOCK_MONOTONIC nanoseconds; 0 means "did not happen".
struct DictationRecord
{
    QStringList hotWords;
    std::int64_t startNs = 0;
    std::int64_t firstFrameNs = 0;
    std::int64_t stopNs = 0;
    std::int64_t asrDoneNs = 0;
    std::int64_t polishDoneNs = 0;
    qint64 bytes = 0;
    QList<int> frameSizes;
    QString asrText;
    QString polishText;

    QJsonObject toJson() const;
};

// What one WebSocket connection saw, kept until reset.
struct SocketRecord
{
    int id = 0;
    QString subject;            // empty when the token was refused
    QString rejected;           // why the server closed it at once ("invalid token"), or empty
    std::int64_t openedNs = 0;
    std::int64_t closedNs = 0;
    int closeCode = 0;          // as seen by the server when the connection ended
    QString closeReason;
    QStringList textMessages;   // every text frame from the client, verbatim (the first 1000)
    int framesOutsideDictation = 0;
    QList<DictationRecord> dictations;

    QJsonObject toJson() const;
};

// Everything the stand-in remembers: accounts, hot words, diagnostics, request counts, socket records
// and pending faults. One instance per process, shared by the REST, control and socket handlers.
class BackendState
{
public:
    explicit BackendState(qint64 accessLifetimeSeconds) : m_accessLifetime(accessLifetimeSeconds) {}

    TokenIssuer &tokens() { return m_tokens; }
    FaultPlan &faults() { return m_faults; }

    qint64 accessLifetime() const { return m_accessLifetime; }
    void setAccessLifetime(qint64 seconds) { m_accessLifetime = seconds; }

    // True the first time an identity token is seen (since start or the last reset).
    bool noteIdentity(const QString &identityToken) { return !std::exchange(m_identities[identityToken], true); }

    QStringList &hotWords(const QString &subject) { return m_hotWords[subject]; }

    void addDiagnostics(const QString &subject, const QJsonObject &payload);
    const QJsonArray &diagnostics() const { return m_diagnostics; }

    void countRequest(const QByteArray &method, const QByteArray &rawPath);
    QJsonObject requestCounts() const;

    std::shared_ptr<SocketRecord> newSocketRecord();
    QJsonArray socketRecords() const;

    // Forgets everything but the signing secret and the issued refresh tokens (tokens handed out before a
    // reset keep working) and the configured access lifetime.
    void reset();

private:
    TokenIssuer m_tokens;
    FaultPlan m_faults;
    qint64 m_accessLifetime;
    QHash<QString, bool> m_identities;
    QHash<QString, QStringList> m_hotWords;
    QJsonArray m_diagnostics;
    QMap<QString, int> m_requestCounts;
    QList<std::shared_ptr<SocketRecord>> m_sockets;
    int m_nextSocketId = 1;
};
