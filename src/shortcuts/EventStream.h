#pragma once

#include "shortcuts/EventType.h"
#include "shortcuts/Name.h"

#include <QObject>
#include <QUuid>

namespace KeyboardShortcuts {

// The key-down and key-up events of one name, as long as the stream lives (make one with
// KeyboardShortcuts::events()). While it lives the name's shortcut is registered; destroying it
// ends the stream and releases the shortcut unless a name with handlers or another stream still
// uses it.
class EventStream : public QObject {
    Q_OBJECT
public:
    explicit EventStream(const Name &name, QObject *parent = nullptr);
    ~EventStream() override;

    const Name &name() const { return m_name; }
    QUuid id() const { return m_id; }

Q_SIGNALS:
    void eventOccurred(KeyboardShortcuts::EventType type);

private:
    Name m_name;
    QUuid m_id;
};

} // namespace KeyboardShortcuts
