// Murlex's text path as the application takes it: builds the injector on the platform's own
// services and injects each text in turn, printing per text
//   inject true|copied|false
//   restored                  once the clipboard holds its earlier contents again (after a paste)
// a second apart, then "done", and ends: in Wayland sessions, which path the text took.
// Usage: injection_probe [--probe] [--serve] [TEXT...]   (TEXT: 你好 unless serving)
//   --probe: probes the desktop session first, as the application's start does (a log line names the path)
//   --serve: prints "ready", injects each line read from stdin as well, and keeps serving the
//            clipboard as the application does until stdin closes (the application's normal exit)
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

QCoro::Task<> inject(TextInjector &injector, QString text)
{
    const TextInjection::Outcome outcome = co_await injector.inject(text);
    report(outcome == TextInjection::Outcome::pasted       ? "inject true"
           : outcome == TextInjection::Outcome::copiedOnly ? "inject copied"
                                                           : "inject false");
    if (outcome == TextInjection::Outcome::pasted) {
        co_await qCoro(&injector, &TextInjector::clipboardRestored, 5s);
        report("restored");
    }
}

QCoro::Task<> dictate(TextInjector &injector, QStringList texts, bool probe, bool serve)
{
    if (probe)
        co_await Platform::probeDesktopSession();
    for (const QString &text : texts) {
        co_await inject(injector, text);
        // Dictations come seconds apart: the compositor's copy of the clipboard has settled by then.
        co_await QCoro::sleepFor(1s);
    }
    report("done");
    if (!serve)
        QCoreApplication::quit();
}
} // namespace

int main(int argc, char **argv)
{
    QGuiApplication app(argc, argv);
    TextInjector injector;
    QStringList texts = app.arguments().mid(1);
    const bool probe = texts.removeAll(QStringLiteral("--probe")) > 0;
    const bool serve = texts.removeAll(QStringLiteral("--serve")) > 0;
    if (texts.isEmpty() && !serve)
        texts << QStringLiteral("你好");
    QSocketNotifier input(STDIN_FILENO, QSocketNotifier::Read);
    input.setEnabled(serve);
    QByteArray pending;
    QObject::connect(&input, &QSocketNotifier::activated, &app, [&] {
        char buffer[4096];
        const ssize_t got = ::read(STDIN_FILENO, buffer, sizeof buffer);
        if (got <= 0) {
            input.setEnabled(false);
            QCoreApplication::quit();
            return;
        }
        pending.append(buffer, got);
        for (qsizetype end = pending.indexOf('\n'); end >= 0; end = pending.indexOf('\n')) {
            const QString line = QString::fromUtf8(pending.left(end));
            pending.remove(0, end + 1);
            QCoro::waitFor(inject(injector, line));
        }
    });
    if (serve)
        report("ready");
    QCoro::Task<> run = dictate(injector, texts, probe, serve);
    return app.exec();
}
