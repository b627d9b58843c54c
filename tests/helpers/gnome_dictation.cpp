// Murlex's text path in a GNOME Wayland session, as the application takes it: probes the session
// (its log line names the path), builds the injector on the platform's own services and injects
// each text of the command line in turn, printing per text
//   inject true|copied|false
//   restored                  once the clipboard holds its earlier contents again (after a paste)
// a second apart, then "done", and serves the clipboard until it is terminated or its stdin closes.
#include "injection/TextInjector.h"
#include "platform/Platform.h"

#include <QCoroSignal>
#include <QCoroTimer>
#include <QGuiApplication>
#include <QSocketNotifier>

#include <cstdio>
#include <unistd.h>

using namespace std::chrono_literals;

namespace {
void report(const char *line)
{
    std::puts(line);
    std::fflush(stdout);
}

QCoro::Task<> dictate(TextInjector &injector, QStringList texts)
{
    co_await Platform::probeDesktopSession();
    for (const QString &text : texts) {
        const TextInjection::Outcome outcome = co_await injector.inject(text);
        report(outcome == TextInjection::Outcome::pasted       ? "inject true"
               : outcome == TextInjection::Outcome::copiedOnly ? "inject copied"
                                                               : "inject false");
        if (outcome == TextInjection::Outcome::pasted) {
            co_await qCoro(&injector, &TextInjector::clipboardRestored, 5s);
            report("restored");
        }
        // Dictations come seconds apart: the compositor's copy of the clipboard has settled by then.
        co_await QCoro::sleepFor(1s);
    }
    report("done");
}
} // namespace

int main(int argc, char **argv)
{
    QGuiApplication app(argc, argv);
    TextInjector injector;
    // The test ends the run by closing stdin: the application quits as on a normal exit.
    QSocketNotifier input(STDIN_FILENO, QSocketNotifier::Read);
    QObject::connect(&input, &QSocketNotifier::activated, &app, [&input] {
        char buffer[64];
        if (::read(STDIN_FILENO, buffer, sizeof buffer) <= 0) {
            input.setEnabled(false);
            QCoreApplication::quit();
        }
    });
    QCoro::Task<> run = dictate(injector, app.arguments().mid(1));
    return app.exec();
}
