#pragma once

#include <QByteArray>
#include <QJsonDocument>
#include <QJsonParseError>

// QJsonDocument::fromJson for texts that must arrive exactly as written. Qt's parser takes a U+FEFF at
// the start of a string for a byte order mark and drops it, so a text beginning with one comes back
// shorter every time it is read; here such characters are read through their escape instead. A byte
// order mark in front of the whole document is still skipped, as JSON readers do.
QJsonDocument parseJsonExactly(const QByteArray &json, QJsonParseError *error = nullptr);
