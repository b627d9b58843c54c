#include "app/AppLogger.h"
#include "app/AppState.h"

#include "BuildConfig.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QSocketNotifier>

#include <csignal>
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
} // namespace

int main(int argc, char *argv[])
{
    AppLogger::installMessagePattern();
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("MurlexMac"));
    QApplication::setApplicationDisplayName(QStringLiteral("Murlex"));
    QApplication::setOrganizationName(QStringLiteral("quillfen"));
    QApplication::setApplicationVersion(QString::fromUtf8(BuildConfig::appVersion));
    QApplication::setQuitOnLastWindowClosed(false);

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Murlex: press a shortcut, speak, and the text appears."));
    parser.addHelpOption();
    parser.addVersionOption();
    parser.process(app);

    quitOnTerminationSignals(app);
    qCInfo(AppLogger::app, "Murlex %s started (backend %s)", BuildConfig::appVersion, BuildConfig::backendHost);
    // The one state of the run; its bootstrap runs once the event loop starts.
    AppState::shared();
    const int status = app.exec();
    qCInfo(AppLogger::app, "Murlex exiting");
    return status;
}
