#pragma once

#include "platform/FocusedWindow.h"

// A focused window whose class a test sets.
class FakeFocusedWindow : public FocusedWindow {
public:
    WindowClass focused;

    WindowClass windowClass() override { return focused; }
};
