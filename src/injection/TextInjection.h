#pragma once

#include <QCoro/QCoroTask>
#include <QString>

// What the dictation controller needs to put text into the focused application.
// TextInjector is the real one.
class TextInjection {
public:
    virtual ~TextInjection() = default;
    // True when the text was delivered to the focused application (an empty text counts as
    // delivered). It may wait a moment (a key the user still holds) without blocking the thread.
    virtual QCoro::Task<bool> inject(QString text) = 0;
    // Puts the text on the clipboard and leaves it there: no key is sent and the clipboard's
    // previous contents are not restored. True when the clipboard took it.
    virtual QCoro::Task<bool> copy(QString text) = 0;
};
