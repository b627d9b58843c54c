#pragma once

#include <QtGui/qwindowdefs.h>

#include <memory>

// What a floating status window needs from the window system beyond what the toolkit offers: pointer
// input that passes through it to the windows below, staying above every other window while it is
// shown, and whether translucent pixels are blended with what lies below.
class FloatingWindow {
public:
    virtual ~FloatingWindow() = default;

    // Gives the native window an input region of zero area, so every pointer event goes to the
    // windows below it whatever a window manager does with it. False when the window system cannot.
    virtual bool passPointerThrough(WId window) = 0;

    // Puts the window above every other top-level window now and, while kept on top, again whenever
    // another application's window is mapped or stacked directly above it. Stop costs nothing further.
    virtual void keepOnTop(WId window) = 0;
    virtual void stopKeepingOnTop() = 0;

    // Whether a compositing manager blends translucent windows with what lies below them; without
    // one, transparent pixels show as black and a window must cut its shape instead.
    virtual bool isCompositing() = 0;
};
