#pragma once

#include "platform/Accessibility.h"

#include <QStringList>

// An accessibility service with one focused text element, whose value and write result a test
// sets; the values written land in `written`.
class FakeAccessibility : public Accessibility {
public:
    std::optional<QString> value;  // nullopt: the value is not a text
    int setValueError = 0;         // what a write answers
    QStringList written;

    std::unique_ptr<AccessibleElement> focusedElement() override { return std::make_unique<Element>(this); }

private:
    class Element : public AccessibleElement {
    public:
        explicit Element(FakeAccessibility *owner) : m_owner(owner) {}
        std::optional<QString> textValue() override { return m_owner->value; }
        int setTextValue(const QString &value) override
        {
            m_owner->written.append(value);
            if (m_owner->setValueError == 0)
                m_owner->value = value;
            return m_owner->setValueError;
        }

    private:
        FakeAccessibility *m_owner;
    };
};
