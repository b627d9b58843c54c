#pragma once

#include "platform/Accessibility.h"

// The accessibility path through AT-SPI: the focused element is the focused, showing descendant
// of the active window of an application on the accessibility bus (GTK, Qt with accessibility
// on, ...). Connects to the bus on first use, so nothing is started for users of the clipboard path.
// The calls block the main thread for as long as the target application takes to answer
// (AT-SPI's own timeouts bound that); this process itself is never asked, so it cannot deadlock.
class AtspiAccessibility : public Accessibility {
public:
    // What a write answers when the element has no editable text, or refused without an error code.
    static constexpr int notEditable = -1;
    static constexpr int refused = -2;

    std::unique_ptr<AccessibleElement> focusedElement() override;
};
