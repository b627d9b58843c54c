// Takes a well-known name on the session bus, says "ready", and then waits to be stopped:
// a test sends SIGSTOP so that every call to the name goes unanswered.
// Usage: silent_bus_name NAME
#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QTextStream>

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    if (app.arguments().size() != 2)
        return 2;
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected() || !bus.registerService(app.arguments().at(1)))
        return 1;
    QTextStream(stdout) << "ready" << Qt::endl;
    return app.exec();
}
