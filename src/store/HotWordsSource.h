#pragma once

#include <QStringList>

// What the dictation controller needs of the hot words: the list sent with every start, and a
// replay of the offline queue each time the socket opens. HotWordsStore is the real one.
class HotWordsSource {
public:
    virtual ~HotWordsSource() = default;
    virtual QStringList words() const = 0;
    // Returns at once; the queue of pending operations is replayed in a new main-thread task.
    virtual void scheduleFlush() = 0;
};
