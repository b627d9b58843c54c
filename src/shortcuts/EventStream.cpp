#include "shortcuts/EventStream.h"

#include "shortcuts/KeyboardShortcuts.h"

namespace KeyboardShortcuts {

EventStream::EventStream(const Name &name, QObject *parent)
    : QObject(parent), m_name(name), m_id(QUuid::createUuid())
{
    subscribe(this);
}

EventStream::~EventStream()
{
    unsubscribe(this);
}

} // namespace KeyboardShortcuts
