#pragma once

#include <QMetaType>

namespace KeyboardShortcuts {

enum class EventType { keyDown, keyUp };

} // namespace KeyboardShortcuts

Q_DECLARE_METATYPE(KeyboardShortcuts::EventType)
