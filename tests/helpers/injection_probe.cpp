// Builds the text injector on this platform's own services, injects one text and prints
// "inject true" or "inject false" ("inject copied" when the text could only be left on the
// clipboard). Run on platforms without X11 (offscreen, no DISPLAY) to show the injector answers
// there without crashing, and in Wayland sessions to show which path it took.
// Usage: injection_probe [TEXT] [--serve] [--stdin]   (--serve: keep running afterwards,
// serving the clipboard as the application does; --stdin: print "ready" once the injector is
// built, then inject each line read from standard input instead of TEXT, serving meanwhile)
#include "injection/TextInjector.h"

#include <QGuiApplication>
#include <QSocketNotifier>

#include <cstdio>
#include <unistd.h>

namespace {

void injectAndReport(TextInjector &injector, const QString &text)
{
    const TextInjection::Outcome outcome = QCoro::waitFor(injector.inject(text));
    std::printf("inject %s\n", outcome == TextInjection::Outcome::pasted       ? "true"
                                : outcome == TextInjection::Outcome::copiedOnly ? "copied"
                                                                                : "false");
    std::fflush(stdout);
}

} // namespace

int main(int argc, char **argv)
{
    QGuiApplication app(argc, argv);
    TextInjector injector;
    QStringList arguments = app.arguments().mid(1);
    const bool serve = arguments.removeAll(QStringLiteral("--serve")) > 0;
    if (arguments.removeAll(QStringLiteral("--stdin")) > 0) {
        QSocketNotifier input(STDIN_FILENO, QSocketNotifier::Read);
        QByteArray pending;
        QObject::connect(&input, &QSocketNotifier::activated, &app, [&] {
            char buffer[4096];
            const ssize_t got = ::read(STDIN_FILENO, buffer, sizeof buffer);
            if (got <= 0) {
                input.setEnabled(false);
                return;
            }
            pending.append(buffer, got);
            for (qsizetype end = pending.indexOf('\n'); end >= 0; end = pending.indexOf('\n')) {
                const QString line = QString::fromUtf8(pending.left(end));
                pending.remove(0, end + 1);
                injectAndReport(injector, line);
            }
        });
        std::puts("ready");
        std::fflush(stdout);
        return app.exec();
    }
    injectAndReport(injector, arguments.isEmpty() ? QStringLiteral("你好") : arguments.constFirst());
    return serve ? app.exec() : 0;
}
