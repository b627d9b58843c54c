#pragma once

#include "ExternalTool.h"

#include <QStringList>

// Reads a Wayland session's clipboard as another client does, with wl-paste (wl-clipboard), while
// this process's event loop runs on, so a clipboard this process owns is served meanwhile.
namespace WaylandClipboardReader {

// The MIME types on offer; nullopt when wl-paste failed or did not finish in time.
inline std::optional<QStringList> types(const QProcessEnvironment &session)
{
    const std::optional<QByteArray> out = ExternalTool::run(QStringLiteral("wl-paste"), {QStringLiteral("--list-types")}, 5000, session);
    return out ? std::optional(QString::fromUtf8(*out).split(u'\n', Qt::SkipEmptyParts)) : std::nullopt;
}

// The bytes of one type, exactly as the owner wrote them.
inline std::optional<QByteArray> read(const QProcessEnvironment &session, const QString &mimeType)
{
    return ExternalTool::run(QStringLiteral("wl-paste"), {QStringLiteral("--no-newline"), QStringLiteral("--type"), mimeType}, 5000, session);
}

} // namespace WaylandClipboardReader
