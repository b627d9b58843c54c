#include "app/ApplicationMain.h"

#include "app/AppLogger.h"
#include "app/AppState.h"
#include "app/SingleInstance.h"
#include "core/AppIdentity.h"
#include "platform/Platform.h"

#include "BuildConfig.h"

#include <QApplication>
#include <QCommandLineParser>
#include <cstdio>

namespace {
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
    AppIdentity::install();
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
    QApplication::setApplicationDisplayName(QLatin1String(AppIdentity::displayName));
    // No window is ever the last one: the application lives in the background.
    QApplication::setQuitOnLastWindowClosed(false);

    // SIGINT and SIGTERM end the event loop normally, so the process exits through Qt's own path.
    Platform::quitOnTerminationSignals(app);
    qCInfo(AppLogger::app, "Murlex %s started (backend %s)", BuildConfig::appVersion, BuildConfig::backendHost);
    if (beforeStart)
        beforeStart();
    // The one state of the run; its bootstrap runs once the event loop starts.
    AppState::shared();
    const int status = app.exec();
    qCInfo(AppLogger::app, "Murlex exiting");
    return status;
}
