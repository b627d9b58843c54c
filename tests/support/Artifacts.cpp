#include "Artifacts.h"

#include <QDir>
#include <QGuiApplication>
#include <QPixmap>
#include <QScreen>
#include <QWidget>

namespace Artifacts {

QString save(const QString &label, const QString &name, const QImage &image)
{
    QString base = qEnvironmentVariable("MURLEX_ARTIFACTS_DIR");
    if (base.isEmpty())
        base = QDir::temp().filePath(QStringLiteral("murlex-artifacts"));
    const QDir dir(QDir(base).filePath(label));
    if (!dir.mkpath(QStringLiteral(".")))
        return {};
    const QString path = dir.filePath(name + QStringLiteral(".png"));
    return image.save(path, "PNG") ? path : QString();
}

QImage grabScreen(const QRect &area)
{
    QScreen *screen = QGuiApplication::primaryScreen();
    if (!screen)
        return {};
    return screen->grabWindow(0, area.x(), area.y(), area.width(), area.height()).toImage();
}

QImage grabWindow(const QWidget *widget)
{
    const QWidget *window = widget->window();
    return grabScreen(QRect(window->mapToGlobal(QPoint(0, 0)), window->size()));
}

int darkPixels(const QImage &image, int threshold)
{
    int dark = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            dark += qGray(image.pixel(x, y)) < threshold;
    return dark;
}

} // namespace Artifacts
