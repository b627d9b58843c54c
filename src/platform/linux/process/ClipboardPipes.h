#pragma once

#include "platform/Clipboard.h"

#include <QString>

#include <chrono>
#include <utility>
#include <vector>

// One format of a clipboard being read: its MIME type and the read end of the pipe its owner
// writes into.
using ClipboardPipe = std::pair<QString, int>;

// Reads every pipe to its end, all at once (an owner may write its formats in any order), for at
// most `bound` in all, blocking this thread; closes them all. The formats read to their end, in the
// order given; the others are left out, with a log line each.
ClipboardSnapshot readClipboardPipes(const std::vector<ClipboardPipe> &pipes, std::chrono::milliseconds bound);

// What a clipboard served over pipes offers for a text: its UTF-8 under the names Wayland and X11
// applications ask for. A transient text (a dictation's, on the clipboard only for its paste) also
// carries the hint clipboard managers (Klipper, CopyQ ...) follow to keep it out of their history.
ClipboardSnapshot textFormats(const QString &text, bool transient);
