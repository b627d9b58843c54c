#include "platform/linux/UnavailableAccessibility.h"

std::unique_ptr<Accessibility> Accessibility::create()
{
    return std::make_unique<UnavailableAccessibility>();
}
