// Takes the clipboard with the formats named on the command line, each as <mime type>=<hex bytes>
// in the order given, prints "owned", and serves them until it is terminated.
#include <QClipboard>
#include <QGuiApplication>
#include <QMimeData>

#include <cstdio>

int main(int argc, char **argv)
{
    QGuiApplication app(argc, argv);
    auto *mime = new QMimeData;
    const QStringList arguments = app.arguments().mid(1);
    for (const QString &argument : arguments) {
        const qsizetype split = argument.lastIndexOf(QLatin1Char('='));
        if (split <= 0)
            qFatal("expected <mime type>=<hex bytes>, got %s", qPrintable(argument));
        mime->setData(argument.left(split), QByteArray::fromHex(argument.mid(split + 1).toLatin1()));
    }
    QGuiApplication::clipboard()->setMimeData(mime, QClipboard::Clipboard);
    std::puts("owned");
    std::fflush(stdout);
    return app.exec();
}
