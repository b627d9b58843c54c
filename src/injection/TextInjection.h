#pragma once

#include <QString>

// What the dictation controller needs to put text into the focused application.
// TextInjector is the real one.
class TextInjection {
public:
    virtual ~TextInjection() = default;
    // True when the text was delivered to the focused application (an empty text counts as delivered).
    virtual bool inject(const QString &text) = 0;
};
