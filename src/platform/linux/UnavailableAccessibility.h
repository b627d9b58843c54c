#pragma once

#include "platform/Accessibility.h"

// The accessibility path where no accessibility service can be asked: it never finds a focused element.
class UnavailableAccessibility : public Accessibility {
public:
    std::unique_ptr<AccessibleElement> focusedElement() override { return nullptr; }
};
