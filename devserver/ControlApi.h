#pragma once

#include "HttpReply.h"

class BackendState;

// The loopback-only /_control/... endpoints through which tests steer and inspect the stand-in.
// devserver/README.md lists them with examples.
class ControlApi
{
public:
    explicit ControlApi(BackendState &state) : m_state(state) {}

    static bool isControlPath(const QByteArray &rawPath) { return rawPath.startsWith("/_control/"); }

    HttpReply handle(const HttpRequestInfo &request);

private:
    BackendState &m_state;
};
