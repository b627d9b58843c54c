#pragma once

#include <QLoggingCategory>

// The application's log categories, all under the bundle identifier (AppIdentity). Use them with the
// category macros, e.g. qCInfo(AppLogger::socket, "websocket opened").
// Info and above are on by default; debug lines are off unless QT_LOGGING_RULES enables them.
struct AppLogger {
    static const QLoggingCategory &app();
    static const QLoggingCategory &audio();
    static const QLoggingCategory &socket();
    static const QLoggingCategory &hotkey();
    static const QLoggingCategory &injection();
    static const QLoggingCategory &dictation();

    // The diagnostics code logs under the bundle identifier with its own two categories.
    static const QLoggingCategory &metricsKitObserver();
    static const QLoggingCategory &diagnosticsUploader();

    // Installs the process-wide message format (time, level, category, text) on stderr.
    static void installMessagePattern();
};
