#pragma once

#include <QByteArray>
#include <QMap>
#include <QPoint>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

#include <optional>

class QWidget;

// A command-line tool (xdotool, xclip ...) run to its end while the event loop keeps running, since
// this process may be one the tool talks to (the clipboard's owner, say).
class ExternalTool {
public:
    // Its stdout when it exited normally with status 0 within the time; none otherwise. It runs in
    // `environment` where one is given, in this process's otherwise.
    static std::optional<QByteArray> run(const QString &program, const QStringList &arguments, int timeoutMs = 10000,
                                         const QProcessEnvironment &environment = {});
    // xdotool with these arguments; whether it succeeded.
    static bool xdotool(const QStringList &arguments);
    // Every data target the X clipboard's owner offers, with its bytes, as another client (xclip)
    // reads them; a target that cannot be read holds "<unreadable>".
    static QMap<QString, QByteArray> xClipboard();
    // A real click of the pointer at `at` in the widget (its centre by default), after a tab taller
    // than its window has been scrolled to the widget, as a person would.
    static bool click(const QWidget *widget, std::optional<QPoint> at = std::nullopt);
};
