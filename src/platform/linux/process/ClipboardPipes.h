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
