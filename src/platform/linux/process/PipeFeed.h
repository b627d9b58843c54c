#pragma once

#include <QByteArray>

#include <chrono>
#include <functional>

class QObject;

// Writes `data` into the pipe `fd` as its reader takes it, from the event loop of `context`'s
// thread, never blocking it: what the pipe takes now at once, the rest whenever the reader makes
// room, for at most `bound` (a reader that takes longer is cut off, and logged as a reader of our
// clipboard: what both users of this serve). Then closes `fd`
// (owned from here on) and calls `done`, if given, with whether every byte was taken.
void feedPipe(QObject *context, int fd, QByteArray data, std::chrono::milliseconds bound,
              std::function<void(bool complete)> done = {});
