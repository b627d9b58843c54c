// A window with one focused text field that reports on stdout, one line each, what reaches it:
//   window <X window id>        once shown
//   active                      when the window has the keyboard focus
//   key <key sequence>          every key press other than a bare modifier, e.g. "key Ctrl+V"
//   text <percent-encoded UTF-8> the field's whole text after each change
// Options: --textedit (a multi-line field instead of a line field),
//          --wm-class <instance>,<class> (the WM_CLASS of the window),
//          --text <text> (what the field holds at the start),
//          --app-id <id> (the application id a Wayland compositor is told),
//          --refocus (the field gives up its focus and takes it again a moment after the window
//          became active, so an input method that set up its context late hears of the focus).
#include <QApplication>
#include <QCommandLineParser>
#include <QKeyEvent>
#include <QKeySequence>
#include <QLineEdit>
#include <QTextEdit>
#include <QTimer>
#include <QWindow>

#include <xcb/xcb.h>

#include <cstdio>

namespace {

void report(const QByteArray &line)
{
    std::fputs(line.constData(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

class KeyReporter : public QObject {
public:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::KeyPress && watched->isWidgetType()) {
            const auto *key = static_cast<QKeyEvent *>(event);
            switch (key->key()) {
            case Qt::Key_Control: case Qt::Key_Shift: case Qt::Key_Alt: case Qt::Key_Meta:
            case Qt::Key_Super_L: case Qt::Key_Super_R: case Qt::Key_AltGr:
                break;
            default:
                report("key " + QKeySequence(key->keyCombination()).toString(QKeySequence::PortableText).toUtf8());
            }
        }
        return false;
    }
};

void setWindowClass(QWidget *window, const QString &instanceAndClass)
{
    auto *x11 = qApp->nativeInterface<QNativeInterface::QX11Application>();
    const QStringList names = instanceAndClass.split(QLatin1Char(','));
    if (!x11 || names.size() != 2)
        qFatal("--wm-class needs X11 and <instance>,<class>");
    QByteArray value = names[0].toUtf8() + '\0' + names[1].toUtf8() + '\0';
    xcb_change_property(x11->connection(), XCB_PROP_MODE_REPLACE, static_cast<xcb_window_t>(window->winId()),
                        XCB_ATOM_WM_CLASS, XCB_ATOM_STRING, 8, value.size(), value.constData());
    xcb_flush(x11->connection());
}

} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    QCommandLineParser parser;
    parser.addOption({QStringLiteral("textedit"), QStringLiteral("Use a multi-line field.")});
    parser.addOption({QStringLiteral("wm-class"), QStringLiteral("WM_CLASS as instance,class."), QStringLiteral("names")});
    parser.addOption({QStringLiteral("text"), QStringLiteral("Initial text."), QStringLiteral("text")});
    parser.addOption({QStringLiteral("app-id"), QStringLiteral("Wayland application id."), QStringLiteral("id")});
    parser.addOption({QStringLiteral("refocus"), QStringLiteral("Take the focus again once active.")});
    parser.process(app);
    const QString initial = parser.value(QStringLiteral("text"));
    // Qt's Wayland platform tells the compositor the desktop file name as the application id.
    if (parser.isSet(QStringLiteral("app-id")))
        QGuiApplication::setDesktopFileName(parser.value(QStringLiteral("app-id")));

    QWidget *field = nullptr;
    if (parser.isSet(QStringLiteral("textedit"))) {
        auto *edit = new QTextEdit;
        edit->setPlainText(initial);
        QObject::connect(edit, &QTextEdit::textChanged, edit,
                         [edit] { report("text " + edit->toPlainText().toUtf8().toPercentEncoding()); });
        field = edit;
    } else {
        auto *edit = new QLineEdit(initial);
        QObject::connect(edit, &QLineEdit::textChanged, edit,
                         [](const QString &text) { report("text " + text.toUtf8().toPercentEncoding()); });
        field = edit;
    }
    KeyReporter keys;
    app.installEventFilter(&keys);
    const bool refocus = parser.isSet(QStringLiteral("refocus"));
    QObject::connect(&app, &QGuiApplication::focusWindowChanged, &app, [&field, refocus](QWindow *window) {
        if (!window)
            return;
        if (!refocus) {
            report("active");
            return;
        }
        QTimer::singleShot(300, field, [field] {
            field->clearFocus();
            field->setFocus(Qt::ActiveWindowFocusReason);
            report("active");
        });
    });

    field->setWindowTitle(QStringLiteral("murlex injection target"));
    field->resize(400, 200);
    field->winId();
    if (parser.isSet(QStringLiteral("wm-class")))
        setWindowClass(field, parser.value(QStringLiteral("wm-class")));
    field->show();
    report("window " + QByteArray::number(static_cast<qulonglong>(field->winId())));

    const int status = app.exec();
    delete field;
    return status;
}
