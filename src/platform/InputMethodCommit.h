#pragma once

#include <QCoro/QCoroTask>
#include <QString>

#include <chrono>

// The desktop's input method framework, asked to commit a text to the input field that has the
// keyboard focus, as if the user had typed it there through the input method: every Unicode
// character arrives as it is, the clipboard is not touched and no key event is synthesised. It
// reaches only applications that use the framework.
class InputMethodCommit {
public:
    enum class Result {
        // The framework handed the text to the focused input field.
        committed,
        // The framework runs, but no input field of it has the focus (the focused application does
        // not use the input method, or nothing is focused).
        noFocusedField,
        // The framework does not run here, lacks Murlex's module, or did not answer in time.
        unavailable,
    };

    // How long a commit waits for the framework's answer: it answers within milliseconds when it
    // runs, and a dictation must not stall on a framework that hangs.
    static constexpr std::chrono::milliseconds defaultReplyTimeout{250};

    virtual ~InputMethodCommit() = default;

    // The framework's name, for log lines ("Fcitx5").
    virtual QString frameworkName() const = 0;
    virtual std::chrono::milliseconds replyTimeout() const = 0;
    // Never blocks the thread; finishes within replyTimeout(), plus the event loop's latency.
    virtual QCoro::Task<Result> commit(QString text) = 0;
};
