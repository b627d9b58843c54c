#pragma once

#include "core/Expected.h"
#include "net/AccessTokenProvider.h"

#include <QByteArray>
#include <QCoro/QCoroTask>
#include <QJsonObject>
#include <QString>

#include <chrono>

// Sends every cached report (MetricsKitObserver's cache, "*.json") to POST /diagnostics, one after
// another, and deletes each one the backend accepted with 201. A report the backend refuses
// (413, 429, any other status, also 200) or that is not a JSON object stays for the next upload;
// an unreadable file, a missing or unrefreshable token, a transport failure, a response that is
// not HTTP, a file that cannot be deleted and a 401 that outlives one token refresh end the run.
// Stateless; runs on the thread's Qt event loop.
class DiagnosticsUploader {
public:
    DiagnosticsUploader() = delete;

    static constexpr std::chrono::milliseconds requestTimeout{60000};

    // The number of reports uploaded and deleted, or the error that ended the run.
    static QCoro::Task<Expected<int, TokenFailure>> uploadAll();

    // The request body for one cached report.
    static QJsonObject body(const QJsonObject &payload);

private:
    // True when the file was uploaded and deleted, false when it stays.
    static QCoro::Task<Expected<bool, TokenFailure>> uploadFile(QString path);
    // The HTTP status of one POST.
    static QCoro::Task<Expected<int, TokenFailure>> post(QByteArray body, QString token);
};
