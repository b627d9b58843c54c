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

QPalette darkPalette()
{
    QPalette p;
    const QColor window(0x26, 0x27, 0x2b), base(0x1c, 0x1d, 0x20), text(0xe8, 0xe8, 0xea);
    p.setColor(QPalette::Window, window);
    p.setColor(QPalette::WindowText, text);
    p.setColor(QPalette::Base, base);
    p.setColor(QPalette::AlternateBase, window);
    p.setColor(QPalette::Text, text);
    p.setColor(QPalette::Button, QColor(0x36, 0x37, 0x3c));
    p.setColor(QPalette::ButtonText, text);
    p.setColor(QPalette::Highlight, QColor(0x2f, 0x6b, 0xff));
    p.setColor(QPalette::HighlightedText, Qt::white);
    p.setColor(QPalette::PlaceholderText, QColor(0x9a, 0x9b, 0xa1));
    p.setColor(QPalette::Light, QColor(0x45, 0x46, 0x4c));
    p.setColor(QPalette::Mid, QColor(0x30, 0x31, 0x35));
    p.setColor(QPalette::Dark, QColor(0x15, 0x15, 0x18));
    return p;
}

} // namespace Artifacts
