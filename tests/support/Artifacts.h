#pragma once

#include <QImage>
#include <QPalette>
#include <QString>

class QWidget;

// Screenshots that interface suites leave for people to look at: build/test/artifacts/<label>/<name>.png,
// overwritten on every run (the directory comes from MURLEX_ARTIFACTS_DIR, set by CTest).
namespace Artifacts {
// The path the image was written to; empty when it could not be written.
QString save(const QString &label, const QString &name, const QImage &image);
// What the X server shows in the given screen rectangle (every window, as composited on the screen).
QImage grabScreen(const QRect &area);
// A widget's top-level window as the screen shows it.
QImage grabWindow(const QWidget *widget);
// How many pixels are darker than `threshold` (grey level 0–255): text drawn on a light background
// leaves many, empty boxes or nothing leave few.
int darkPixels(const QImage &image, int threshold);
// A dark desktop's palette, for the dark variant of a screenshot.
QPalette darkPalette();
} // namespace Artifacts
