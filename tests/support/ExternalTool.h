#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <optional>

// A command-line tool (xdotool, xclip ...) run to its end while the event loop keeps running, since
// this process may be one the tool talks to (the clipboard's owner, say).
class ExternalTool {
public:
    // Its stdout when it exited normally with status 0 within the time; none otherwise.
    static std::optional<QByteArray> run(const QString &program, const QStringList &arguments, int timeoutMs = 10000);
};
