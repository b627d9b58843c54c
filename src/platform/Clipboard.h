#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

#include <memory>
#include <optional>

// One format of the clipboard's contents: its MIME type and its bytes, owned by the copy.
struct ClipboardFormat {
    QString mimeType;
    QByteArray data;

    bool operator==(const ClipboardFormat &) const = default;
};

// Everything the clipboard held at one moment, in the order its owner offered it.
// Empty when the clipboard held nothing.
using ClipboardSnapshot = QList<ClipboardFormat>;

// The system clipboard (on X11 the CLIPBOARD selection), as the text injector uses it.
class Clipboard {
public:
    virtual ~Clipboard() = default;

    // A deep copy of every readable format; formats whose data cannot be read are left out.
    virtual ClipboardSnapshot snapshot() = 0;
    // Replaces the contents with `text` alone, marked as transient so that clipboard managers
    // that honour the marking keep it out of their history.
    virtual void setTransientText(const QString &text) = 0;
    // Replaces the contents with `text` alone, as an ordinary copy that clipboard managers keep.
    virtual void setText(const QString &text) = 0;
    // Puts a snapshot back: the formats as they were, or an empty clipboard for an empty snapshot.
    virtual void restore(const ClipboardSnapshot &snapshot) = 0;
    // A number that moves on whenever the contents may have changed (someone copied, this process
    // set or restored them, the owner went away), counting every change made before the call: the
    // same number twice means a snapshot taken after the first call still holds. None where such
    // changes cannot be seen: then only a new snapshot tells what the clipboard holds.
    virtual std::optional<quint64> changeCount() { return std::nullopt; }
};
