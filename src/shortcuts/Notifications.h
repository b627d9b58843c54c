#pragma once

#include "shortcuts/Name.h"

#include <QObject>

namespace KeyboardShortcuts {

// The library's notifications, as signals of one process-wide object (KeyboardShortcuts::notifications()).
class Notifications : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;

Q_SIGNALS:
    // After every set of a name (even to the same value), after a clear that removed a shortcut,
    // and after a reset that wrote or removed a stored value.
    void shortcutByNameDidChange(const KeyboardShortcuts::Name &name);
    // A recorder started (true) or stopped (false) recording.
    void recorderActiveStatusDidChange(bool isActive);
};

} // namespace KeyboardShortcuts
