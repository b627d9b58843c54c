// Builds the text injector on this platform's own services, injects one text and prints
// "inject true" or "inject false" ("inject copied" when the text could only be left on the
// clipboard). Run on platforms without X11 (offscreen, no DISPLAY) to show the injector answers
// there without crashing, and in Wayland sessions to show which path it took.
#include "injection/TextInjector.h"

#include <QGuiApplication>

#include <cstdio>

int main(int argc, char **argv)
{
    QGuiApplication app(argc, argv);
    TextInjector injector;
    const QString text = argc > 1 ? QString::fromUtf8(argv[1]) : QStringLiteral("你好");
    const TextInjection::Outcome outcome = QCoro::waitFor(injector.inject(text));
    std::printf("inject %s\n", outcome == TextInjection::Outcome::pasted       ? "true"
                                : outcome == TextInjection::Outcome::copiedOnly ? "copied"
                                                                                : "false");
    return 0;
}
