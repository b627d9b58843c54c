#include "app/AppLogger.h"

#include "core/AppIdentity.h"

#define MURLEX_CATEGORY(fn, name)                                                  \
    const QLoggingCategory &AppLogger::fn()                                        \
    {                                                                              \
        static constexpr auto categoryName = AppIdentity::qualified(name);           \
        static const QLoggingCategory category(categoryName, QtInfoMsg);           \
        return category;                                                           \
    }

MURLEX_CATEGORY(app, "app")
MURLEX_CATEGORY(audio, "audio")
MURLEX_CATEGORY(socket, "socket")
MURLEX_CATEGORY(hotkey, "hotkey")
MURLEX_CATEGORY(injection, "injection")
MURLEX_CATEGORY(dictation, "dictation")
MURLEX_CATEGORY(metricsKitObserver, "MetricsKitObserver")
MURLEX_CATEGORY(diagnosticsUploader, "DiagnosticsUploader")

#undef MURLEX_CATEGORY

void AppLogger::installMessagePattern()
{
    qSetMessagePattern(QStringLiteral(
        "%{time yyyy-MM-dd hh:mm:ss.zzz} "
        "%{if-debug}debug%{endif}%{if-info}info%{endif}%{if-warning}warning%{endif}"
        "%{if-critical}error%{endif}%{if-fatal}fatal%{endif} "
        "[%{category}] %{message}"));
}
