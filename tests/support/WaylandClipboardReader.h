#pragma once

#include <QByteArray>
#include <QProcessEnvironment>
#include <QStringList>

#include <optional>

// Reads a Wayland session's clipboard as another client does, with wl-paste (wl-clipboard), while
// this process's event loop runs on, so a clipboard this process owns is served meanwhile.
namespace WaylandClipboardReader {

// The MIME types on offer; nullopt when wl-paste failed or did not finish in time.
std::optional<QStringList> types(const QProcessEnvironment &session);
// The bytes of one type, exactly as the owner wrote them.
std::optional<QByteArray> read(const QProcessEnvironment &session, const QString &mimeType);

} // namespace WaylandClipboardReader
