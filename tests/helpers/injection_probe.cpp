// Builds the text injector on this platform's own services, injects one text and prints
// "inject true" or "inject false" ("inject copied" when the text could only be left on the
// clipboard). Run on platforms without X11 (offscreen, no DISPLAY) to show the injector answers
// there without crashing, and in Wayland sessions to show which path it took.
// Usage: injection_probe [TEXT] [--serve] [--delay MS]   (--serve: keep running afterwards,
// serving the clipboard as the application does; --delay: print "ready" once the injector is
// built, and inject that long after)
#include "injection/TextInjector.h"

#include <QCoroTimer>
#include <QGuiApplication>

#include <cstdio>

int main(int argc, char **argv)
{
    QGuiApplication app(argc, argv);
    TextInjector injector;
    QStringList arguments = app.arguments().mid(1);
    const bool serve = arguments.removeAll(QStringLiteral("--serve")) > 0;
    const qsizetype delayAt = arguments.indexOf(QStringLiteral("--delay"));
    if (delayAt >= 0 && delayAt + 1 < arguments.size()) {
        const int delay = arguments.takeAt(delayAt + 1).toInt();
        arguments.removeAt(delayAt);
        std::puts("ready");
        std::fflush(stdout);
        QCoro::waitFor(QCoro::sleepFor(std::chrono::milliseconds(delay)));
    }
    const QString text = arguments.isEmpty() ? QStringLiteral("你好") : arguments.constFirst();
    const TextInjection::Outcome outcome = QCoro::waitFor(injector.inject(text));
    std::printf("inject %s\n", outcome == TextInjection::Outcome::pasted       ? "true"
                                : outcome == TextInjection::Outcome::copiedOnly ? "copied"
                                                                                : "false");
    std::fflush(stdout);
    return serve ? app.exec() : 0;
}
