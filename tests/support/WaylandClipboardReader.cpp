#include "WaylandClipboardReader.h"

#include "ExternalTool.h"

namespace {

std::optional<QByteArray> wlPaste(const QProcessEnvironment &session, const QStringList &arguments)
{
    return ExternalTool::run(QStringLiteral("wl-paste"), arguments, 5000, session);
}

} // namespace

std::optional<QStringList> WaylandClipboardReader::types(const QProcessEnvironment &session)
{
    const std::optional<QByteArray> out = wlPaste(session, {QStringLiteral("--list-types")});
    if (!out)
        return std::nullopt;
    return QString::fromUtf8(*out).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

std::optional<QByteArray> WaylandClipboardReader::read(const QProcessEnvironment &session, const QString &mimeType)
{
    return wlPaste(session, {QStringLiteral("--no-newline"), QStringLiteral("--type"), mimeType});
}
