#pragma once

#include <QCoro/QCoroTask>
#include <QString>

// What the dictation controller needs to put text into the focused application.
// TextInjector is the real one.
class TextInjection {
public:
    // What became of a text given to inject().
    enum class Outcome {
        // Delivered to the focused application (an empty text counts as delivered).
        pasted,
        // Left on the clipboard for the user to paste: copy only is on, or this session gives no
        // way to press keys in other applications.
        copiedOnly,
        // Not delivered (no permission to post keys, the accessibility path failed, ...).
        failed,
    };

    virtual ~TextInjection() = default;
    // It may wait a moment (a key the user still holds) without blocking the thread.
    virtual QCoro::Task<Outcome> inject(QString text) = 0;
    // Puts the text on the clipboard and leaves it there: no key is sent and the clipboard's
    // previous contents are not restored. True when the clipboard took it.
    virtual QCoro::Task<bool> copy(QString text) = 0;
    // A text for inject() is on its way (the recording has ended, its answer is awaited): what
    // can be readied before it arrives may be readied now. Nothing changes for the user.
    virtual void expectText() {}
};
