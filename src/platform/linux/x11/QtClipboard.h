#pragma once

#include "platform/Clipboard.h"

// The clipboard through QClipboard (on X11 the CLIPBOARD selection). A restore makes this
// application the clipboard's owner; it serves the contents for as long as it runs.
class QtClipboard : public Clipboard {
public:
    ClipboardSnapshot snapshot() override;
    void setTransientText(const QString &text) override;
    void setText(const QString &text) override;
    void restore(const ClipboardSnapshot &snapshot) override;

    // Formats that describe the X selection exchange itself (TARGETS, MULTIPLE ...) or that Qt
    // derives from other formats: never part of a snapshot.
    static bool isProtocolFormat(const QString &mimeType);
};
