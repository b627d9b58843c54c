#pragma once

#include <QString>

// The first `count` characters (code points) of `text`, for log lines that show the start of a
// long text: a character outside the Basic Multilingual Plane counts once and is never cut in half.
QString leadingCharacters(const QString &text, qsizetype count);
