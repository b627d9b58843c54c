#pragma once

#include "core/PlatformError.h"

#include <QString>

// The error values of the hot words client, with the descriptions shown to the user.
struct APIError {
    enum class Kind { http, network, noToken, decode };

    Kind kind = Kind::decode;
    int status = 0;               // http only
    QString body;                 // http only
    PlatformError networkError{}; // network only: the transport failure as the network layer reported it

    static APIError http(int status, QString body) { return {Kind::http, status, std::move(body), {}}; }
    static APIError network(PlatformError error) { return {Kind::network, 0, {}, std::move(error)}; }
    static APIError noToken() { return {Kind::noToken, 0, {}, {}}; }
    static APIError decode() { return {Kind::decode, 0, {}, {}}; }

    bool operator==(const APIError &) const = default;

    QString localizedDescription() const
    {
        switch (kind) {
        case Kind::http:
            return QStringLiteral("hotwords HTTP %1: ").arg(status) + body;
        case Kind::network:
            return QStringLiteral("hotwords 网络错误：") + networkError.localizedDescription;
        case Kind::noToken:
            return QStringLiteral("本地没有 access token");
        case Kind::decode:
            return QStringLiteral("无法解析 hotwords 响应");
        }
        return {};
    }
};
