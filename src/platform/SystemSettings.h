#pragma once

// The desktop's own settings tools, opened on the page that governs what the application needs.
class SystemSettings {
public:
    enum class Pane { microphone, accessibility };

    virtual ~SystemSettings() = default;

    // Opens the pane in the desktop's settings tool where one is installed; does nothing
    // otherwise. A tool that cannot be started is logged, never reported to the caller.
    virtual void open(Pane pane) = 0;
};
