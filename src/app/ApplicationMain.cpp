#include "app/ApplicationMain.h"

#include "app/AppLogger.h"
#include "app/AppState.h"
#include "app/SessionBusService.h"
#include "app/SingleInstance.h"
#include "core/AppIdentity.h"
#include "store/SettingsFileCheck.h"
#include "platform/Platform.h"
#include "shortcuts/CarbonKeyboardShortcuts.h"
#include "store/HotWordsStore.h"
#include "ui/FirstRunFlag.h"
#include "ui/MainWindow.h"
#include "ui/MenuBarController.h"

#include "BuildConfig.h"

#include <QApplication>
#include <QCoro/QCoroTask>
#include <QCommandLineParser>
#include <QDBusConnection>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QIcon>
#include <QSystemTrayIcon>

#include <optional>
#include <cstdio>

namespace {
void printLine(FILE *stream, const QString &text)
{
    std::fputs(text.toLocal8Bit().constData(), stream);
    std::fputc('\n', stream);
    std::fflush(stream);
}

enum class CommandLine { run, toggle, pasteLast, cancel, exitSuccess, exitFailure };

// The parser names the program "<executable_name>" while no application object exists.
QString helpText(const QCommandLineParser &parser)
{
    QString text = parser.helpText();
    text.replace(QLatin1String("<executable_name>"), QLatin1String("murlex"));
    return text;
}

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
    const QCommandLineOption toggle(QStringLiteral("toggle"),
                                    QStringLiteral("Start or end a dictation in the running Murlex, as the shortcut does."));
    parser.addOption(toggle);
    const QCommandLineOption pasteLast(QStringLiteral("paste-last"),
                                       QStringLiteral("Paste the last dictated text again into the focused field."));
    parser.addOption(pasteLast);
    const QCommandLineOption cancel(QStringLiteral("cancel"),
                                    QStringLiteral("Give up the dictation under way in the running Murlex: nothing is pasted."));
    parser.addOption(cancel);
    if (!parser.parse(arguments)) {
        printLine(stderr, parser.errorText());
        printLine(stderr, helpText(parser));
        return CommandLine::exitFailure;
    }
    if (parser.isSet(help)) {
        printLine(stdout, helpText(parser));
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
    if (parser.isSet(pasteLast))
        return CommandLine::pasteLast;
    if (parser.isSet(cancel))
        return CommandLine::cancel;
    return parser.isSet(toggle) ? CommandLine::toggle : CommandLine::run;
}

// A command for the running instance: its method on the session bus, the option that sends it, what
// the messages call it, what it does (the hint when none runs), and for a method that answers
// whether it found anything to do, what to say when it did not.
struct RemoteCommand {
    QString method;
    QString option;
    QString noun;
    QString whatItDoes;
    QString nothingToDo = {};
};

// murlex --toggle, --paste-last, --cancel: asks the running instance over the session bus and ends
// with its answer.
int sendCommand(int argc, char *argv[], const RemoteCommand &command)
{
    QCoreApplication app(argc, argv);
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        printLine(stderr, QStringLiteral("Murlex cannot be reached: no session bus (%1).").arg(bus.lastError().message()));
        return 1;
    }
    auto *watcher = new QDBusPendingCallWatcher(bus.asyncCall(SessionBusService::callOf(command.method)), &app);
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, &app, [&](QDBusPendingCallWatcher *finished) {
        if (!finished->isError()) {
            const QVariantList answer = finished->reply().arguments();
            if (!command.nothingToDo.isEmpty() && !answer.isEmpty() && !answer.constFirst().toBool())
                printLine(stdout, command.nothingToDo);
            QCoreApplication::exit(0);
            return;
        }
        const QString name = finished->error().name();
        if (name == QLatin1String("org.freedesktop.DBus.Error.ServiceUnknown")
            || name == QLatin1String("org.freedesktop.DBus.Error.NameHasNoOwner"))
            printLine(stderr, QStringLiteral("Murlex is not running: start it first, then murlex %1 %2.").arg(command.option, command.whatItDoes));
        else
            printLine(stderr, QStringLiteral("Murlex did not take the %1: %2").arg(command.noun, finished->error().message()));
        QCoreApplication::exit(1);
    });
    return app.exec();
}

// A second launch: asks the running instance to bring up its window. Answers whether it did.
bool openRunningWindow(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return false;
    auto *watcher = new QDBusPendingCallWatcher(bus.asyncCall(SessionBusService::callOf(QStringLiteral("OpenMainWindow"))), &app);
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, &app, [](QDBusPendingCallWatcher *finished) {
        QCoreApplication::exit(finished->isError() ? 1 : 0);
    });
    return app.exec() == 0;
}

// Murlex runs on Qt's X11 platform, under Wayland through XWayland. Answers the line to print
// when that cannot work here; an explicitly chosen other platform (offscreen) is left alone.
std::optional<QString> platformProblem()
{
    const QString platform = qEnvironmentVariable("QT_QPA_PLATFORM");
    if (platform.isEmpty() || platform.startsWith(QLatin1String("wayland")))
        qputenv("QT_QPA_PLATFORM", "xcb");
    else if (platform != QLatin1String("xcb"))
        return std::nullopt;
    return Platform::displayProblem();
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
    case CommandLine::toggle:
        return sendCommand(argc, argv, {QStringLiteral("Toggle"), QStringLiteral("--toggle"), QStringLiteral("toggle"),
                                        QStringLiteral("starts or ends a dictation")});
    case CommandLine::pasteLast:
        return sendCommand(argc, argv, {QStringLiteral("PasteLast"), QStringLiteral("--paste-last"),
                                        QStringLiteral("paste of the last text"),
                                        QStringLiteral("pastes the last dictated text again")});
    case CommandLine::cancel:
        return sendCommand(argc, argv, {QStringLiteral("Cancel"), QStringLiteral("--cancel"), QStringLiteral("cancel"),
                                        QStringLiteral("gives up a dictation"),
                                        QStringLiteral("Murlex has nothing to cancel: no dictation is recording or waiting for its text.")});
    case CommandLine::run:
        break;
    }

    if (const std::optional<QString> problem = platformProblem()) {
        printLine(stderr, *problem);
        return 1;
    }

    SingleInstance instance;
    if (!instance.acquire()) {
        if (instance.heldByAnother()) {
            // Another instance serves this session: it shows its window, and is otherwise left alone.
            const bool opened = openRunningWindow(argc, argv);
            printLine(stdout, QStringLiteral("Murlex is already running (%1)%2.")
                                  .arg(instance.failureReason(),
                                       opened ? QStringLiteral("; its window is brought up")
                                              : QStringLiteral("; it did not answer on the session bus")));
            return 0;
        }
        printLine(stderr, QStringLiteral("Murlex cannot start: %1").arg(instance.failureReason()));
        return 1;
    }

    QApplication app(argc, argv);
    QApplication::setApplicationDisplayName(QLatin1String(AppIdentity::displayName));
    QGuiApplication::setDesktopFileName(QLatin1String(AppIdentity::bundleIdentifier));
    QApplication::setWindowIcon(QIcon::fromTheme(QLatin1String(AppIdentity::bundleIdentifier)));
    // No window is ever the last one: the application lives in the background.
    QApplication::setQuitOnLastWindowClosed(false);

    // SIGINT and SIGTERM end the event loop normally, so the process exits through Qt's own path.
    Platform::quitOnTerminationSignals(app);
    qCInfo(AppLogger::app, "Murlex %s started (backend %s)", BuildConfig::appVersion, BuildConfig::backendHost);
    // What the desktop session offers, logged once the session bus has answered (bounded).
    QCoro::Task<DesktopSession> sessionProbe = Platform::probeDesktopSession();
    // Under Wayland the shortcut reaches Murlex from every window only through the desktop portal's
    // GlobalShortcuts: where the portal has it, the hot keys move there; where it does not, the
    // settings and the guide say how to bind murlex --toggle.
    QCoro::Task<> sessionUse = sessionProbe.then([&app](const DesktopSession &session) {
        const bool wayland = session.kind == DesktopSession::Kind::wayland;
        if (wayland && session.globalShortcutsPortal > 0)
            KeyboardShortcuts::CarbonKeyboardShortcuts::moveToService(Platform::portalHotKeyService(&app));
        // The settings say how text is written, and whether murlex --toggle needs a binding of the
        // desktop's own. Queued: the state is made below, after the settings check, and the probe
        // may have answered before that.
        QMetaObject::invokeMethod(
            &app, [session] { AppState::shared().setDesktopSession(session); }, Qt::QueuedConnection);
    });
    if (beforeStart)
        beforeStart();
    // Nothing has read the settings yet; a file Murlex did not write is set aside first.
    for (const QString &settingsFile : SettingsFileCheck::userSettingsFiles())
        SettingsFileCheck::setAsideIfUnsafe(settingsFile);
    // The one state of the run; its bootstrap runs once the event loop starts.
    AppState &state = AppState::shared();
    // Other programs reach this instance by name (murlex --toggle).
    SessionBusService busService(state);
    busService.start();
    // The one window: built now, its content when it first opens.
    FirstRunFlag firstRun;
    MainWindowServices services;
    services.state = &state;
    services.loginItem = &state.loginItem();
    services.permissions = &state.permissions();
    services.hotWords = dynamic_cast<HotWordsStore *>(&state.hotWordsStore());
    services.firstRun = &firstRun;
    MainWindow mainWindow(services);
    const auto openMainWindow = [&mainWindow] { mainWindow.open(); };
    busService.setMainWindowOpener(openMainWindow);
    // The tray icon and its menu, whose "打开主窗口" opens the window.
    MenuBarController menuBar(state);
    menuBar.setMainWindowOpener(openMainWindow);
    // Without a tray the window is the only way in: it opens at start, without taking the keyboard
    // from whatever the person is typing into (this may be a start at login).
    if (!QSystemTrayIcon::isSystemTrayAvailable()) {
        qCInfo(AppLogger::app, "no system tray: opening the main window");
        mainWindow.open(false);
    }
    const int status = app.exec();
    qCInfo(AppLogger::app, "Murlex exiting");
    return status;
}
