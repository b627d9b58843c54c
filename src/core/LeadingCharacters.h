#pragma once

#include <QString>

// The first `count` user-perceived characters of `text`, for texts shown or logged by their start: a
// character made of several code points (an emoji with a skin tone, a letter with a combining mark)
// counts once and is never cut in half.
QString leadingCharacters(const QString &text, qsizetype count);

// The number of user-perceived characters of `text`, counted the same way: what log lines and the
// dictation history report as a text's length.
qsizetype characterCount(const QString &text);
