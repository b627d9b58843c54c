#pragma once

#include <QString>

#include <memory>
#include <optional>

// A user-interface element of another application, reached through the accessibility service.
class AccessibleElement {
public:
    virtual ~AccessibleElement() = default;

    // The element's value when it is a text; nullopt when it cannot be read or is not a text.
    virtual std::optional<QString> textValue() = 0;
    // Replaces the element's value; 0 on success, otherwise the accessibility service's error code.
    virtual int setTextValue(const QString &value) = 0;
};

// The system-wide view of the accessibility service.
class Accessibility {
public:
    virtual ~Accessibility() = default;

    // The element with the keyboard focus in whatever application has it; nullptr when none
    // can be found.
    virtual std::unique_ptr<AccessibleElement> focusedElement() = 0;
};
