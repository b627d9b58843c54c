// Takes the Wayland session's clipboard through the platform's own clipboard (data-control, no
// window and no focus needed) with the formats named on the command line, each as
// <mime type>=<hex bytes> in the order given, prints "owned", and serves them until terminated.
#include "platform/Clipboard.h"
#include "platform/Platform.h"

#include <QGuiApplication>

#include <cstdio>

int main(int argc, char **argv)
{
    QGuiApplication app(argc, argv);
    ClipboardSnapshot formats;
    const QStringList arguments = app.arguments().mid(1);
    for (const QString &argument : arguments) {
        const qsizetype split = argument.lastIndexOf(QLatin1Char('='));
        if (split <= 0)
            qFatal("expected <mime type>=<hex bytes>, got %s", qPrintable(argument));
        formats.append({argument.left(split), QByteArray::fromHex(argument.mid(split + 1).toLatin1())});
    }
    const std::unique_ptr<Clipboard> clipboard = Platform::clipboard();
    clipboard->restore(formats);
    std::puts("owned");
    std::fflush(stdout);
    return app.exec();
}
