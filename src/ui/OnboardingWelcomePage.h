#pragma once

#include "ui/OnboardingPage.h"

#include <functional>

// The guide's first page: the application's mark, a welcome and the one way on.
class OnboardingWelcomePage : public OnboardingPage {
    Q_OBJECT
public:
    explicit OnboardingWelcomePage(std::function<void()> onNext, QWidget *parent = nullptr);
};
