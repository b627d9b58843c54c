#include "app/ApplicationMain.h"

#include "app/AppLogger.h"
#include "app/AppState.h"
#include "app/SingleInstance.h"
#include "ui/MenuBarController.h"

#include "BuildConfig.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QSocketNotifier>

#include <csignal>
#include <cstdio>
#include <sys/socket.h>
#include <unistd.h>

namespace {
int signalPipe[2] = {-1, -1};

void onTerminationSignal(int)
{
    const char byte = 1;
    [[maybe_unused]] const auto written = ::write(signalPipe[1], &byte, 1);
}

// SIGINT and SIGTERM end the event loop normally, so the process exits through Qt's own path.
void quitOnTerminationSignals(QCoreApplication &app)
{
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, signalPipe) != 0)
        return;
    auto *notifier = new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, &app);
    QObject::connect(notifier, &QSocketNotifier::activated, &app, [&app] {
        char byte;
        [[maybe_unused]] const auto got = ::read(signalPipe[0], &byte, 1);
        app.quit();
    });
    struct sigaction action {};
    action.sa_handler = onTerminationSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    ::sigaction(SIGINT, &action, nullptr);
    ::sigaction(SIGTERM, &action, nullptr);
}

void printLine(FILE *stream, const QString &text)
{
    std::fputs(text.toLocal8Bit().constData(), stream);
    std::fputc('\n', stream);
    std::fflush(stream);
}

enum class CommandLine { run, exitSuccess, exitFailure };

// Answers --help and --version (and a wrong command line) before any connection to the display
// is made, so they work without one.
CommandLine handleCommandLine(int argc, char *argv[])
{
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Murlex: press Control+Alt+Space, speak, press it again, and the polished text appears in "
        "the focused field."));
    const QCommandLineOption help = parser.addHelpOption();
    const QCommandLineOption version = parser.addVersionOption();
    if (!parser.parse(arguments)) {
        printLine(stderr, parser.errorText());
        printLine(stderr, parser.helpText());
        return CommandLine::exitFailure;
    }
    if (parser.isSet(help)) {
        printLine(stdout, parser.helpText());
        return CommandLine::exitSuccess;
    }
    if (parser.isSet(version)) {
        printLine(stdout, QStringLiteral("Murlex %1").arg(QString::fromUtf8(BuildConfig::appVersion)));
        return CommandLine::exitSuccess;
    }
    if (!parser.positionalArguments().isEmpty()) {
        printLine(stderr, QStringLiteral("Unexpected argument: %1").arg(parser.positionalArguments().first()));
        return CommandLine::exitFailure;
    }
    return CommandLine::run;
}
} // namespace

int ApplicationMain::run(int argc, char *argv[], const BeforeStart &beforeStart)
{
    AppLogger::installMessagePattern();
    // Set before anything reads the settings or the data directories.
    QCoreApplication::setApplicationName(QStringLiteral("MurlexMac"));
    QCoreApplication::setOrganizationName(QStringLiteral("quillfen"));
    QCoreApplication::setApplicationVersion(QString::fromUtf8(BuildConfig::appVersion));

    switch (handleCommandLine(argc, argv)) {
    case CommandLine::exitSuccess:
        return 0;
    case CommandLine::exitFailure:
        return 1;
    case CommandLine::run:
        break;
    }

    SingleInstance instance;
    if (!instance.acquire()) {
        if (instance.heldByAnother()) {
            // Another instance serves this session; it is left alone.
            printLine(stdout, QStringLiteral("Murlex is already running (%1).").arg(instance.failureReason()));
            return 0;
        }
        printLine(stderr, QStringLiteral("Murlex cannot start: %1").arg(instance.failureReason()));
        return 1;
    }

    QApplication app(argc, argv);
    QApplication::setApplicationDisplayName(QStringLiteral("Murlex"));
    // No window is ever the last one: the application lives in the background.
    QApplication::setQuitOnLastWindowClosed(false);

    quitOnTerminationSignals(app);
    qCInfo(AppLogger::app, "Murlex %s started (backend %s)", BuildConfig::appVersion, BuildConfig::backendHost);
    if (beforeStart)
        beforeStart();
    // The one state of the run; its bootstrap runs once the event loop starts.
    AppState &state = AppState::shared();
    // The tray icon and its menu ("打开主窗口" only logs until a main window is set with
    // setMainWindowOpener()).
    MenuBarController menuBar(state);
    const int status = app.exec();
    qCInfo(AppLogger::app, "Murlex exiting");
    return status;
}
