// Builds the text injector on this platform's own services, injects one text and prints
// "inject true" or "inject false". Run on platforms without X11 (offscreen, no DISPLAY) to show
// the injector answers there without crashing.
#include "injection/TextInjector.h"

#include <QGuiApplication>

#include <cstdio>

int main(int argc, char **argv)
{
    QGuiApplication app(argc, argv);
    TextInjector injector;
    const bool injected = QCoro::waitFor(injector.inject(QStringLiteral("你好")));
    std::printf("inject %s\n", injected ? "true" : "false");
    return 0;
}
