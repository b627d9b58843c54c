#pragma once

#include <QString>

// An error value of a platform service, passed through unchanged: its domain, its code and
// its localised description, e.g. a transport failure of the network layer
// ("QNetworkReply", QNetworkReply::NetworkError, errorString()) or the microphone permission
// failure ("Murlex.Audio", 1, "麦克风权限被拒绝").
struct PlatformError {
    QString domain;
    int code = 0;
    QString localizedDescription;

    bool operator==(const PlatformError &) const = default;
    // Textual form for log lines: Error Domain=<domain> Code=<code> "<description>"
    QString describe() const
    {
        return QStringLiteral("Error Domain=%1 Code=%2 \"%3\"").arg(domain).arg(code).arg(localizedDescription);
    }
};
