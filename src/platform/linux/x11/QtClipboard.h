#pragma once

#include "platform/Clipboard.h"

#include <memory>

class X11SelectionWatch;

// The clipboard through QClipboard (on X11 the CLIPBOARD selection). A restore makes this
// application the clipboard's owner; it serves the contents for as long as it runs.
class QtClipboard : public Clipboard {
public:
    QtClipboard();
    ~QtClipboard() override;

    ClipboardSnapshot snapshot() override;
    void setTransientText(const QString &text) override;
    void setText(const QString &text) override;
    void restore(const ClipboardSnapshot &snapshot) override;
    // Where Qt runs on X11: counted from the first call on, through a watch on the selection's
    // owner, so that a snapshot can be known current without asking the owner for its formats.
    std::optional<quint64> changeCount() override;

    // Formats that describe the X selection exchange itself (TARGETS, MULTIPLE ...) or that Qt
    // derives from other formats: never part of a snapshot.
    static bool isProtocolFormat(const QString &mimeType);

private:
    std::unique_ptr<X11SelectionWatch> m_watch;
    bool m_watchTried = false;
};
