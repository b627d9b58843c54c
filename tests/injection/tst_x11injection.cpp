// test-labels: injection
// The injector on the harness's X server, against other processes: a focused text field that
// reports what it receives, a clipboard owner serving several formats, a terminal window, a field
// on the accessibility bus, a second X server without XTEST, and a run without any display.
#include "injection/TextInjector.h"
#include "platform/Accessibility.h"
#include "platform/Clipboard.h"
#include "platform/FocusedWindow.h"
#include "platform/KeySynthesis.h"
#include "platform/Platform.h"

#include "ExternalTool.h"
#include "HelperProcess.h"
#include "LogCapture.h"

#include <QApplication>
#include <QClipboard>
#include <QElapsedTimer>
#include <QProcess>
#include <QSignalSpy>
#include <QtTest>

#include <xcb/xcb.h>

#include <cstdlib>
#include <memory>

namespace {

// Owns a reply that xcb hands over for the caller to free().
struct XcbFree {
    void operator()(void *block) const { std::free(block); }
};
template <typename T>
using XcbReply = std::unique_ptr<T, XcbFree>;

std::optional<QByteArray> run(const QString &program, const QStringList &arguments)
{
    return ExternalTool::run(program, arguments);
}

using TargetBytes = QMap<QString, QByteArray>;

// Every data target the clipboard's owner offers, with its bytes, as another X client reads them.
TargetBytes readClipboardAsAnotherClient()
{
    static const QStringList protocol = {QStringLiteral("TARGETS"), QStringLiteral("MULTIPLE"),
                                         QStringLiteral("TIMESTAMP"), QStringLiteral("SAVE_TARGETS")};
    TargetBytes out;
    const auto targets = run(QStringLiteral("xclip"), {"-selection", "clipboard", "-o", "-t", "TARGETS"});
    if (!targets)
        return out;
    for (const QString &target : QString::fromUtf8(*targets).split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
        if (protocol.contains(target))
            continue;
        const auto bytes = run(QStringLiteral("xclip"), {"-selection", "clipboard", "-o", "-t", target});
        out.insert(target, bytes.value_or(QByteArrayLiteral("<unreadable>")));
    }
    return out;
}

xcb_connection_t *qtConnection()
{
    return qApp->nativeInterface<QNativeInterface::QX11Application>()->connection();
}

xcb_window_t clipboardOwner()
{
    xcb_connection_t *c = qtConnection();
    XcbReply<xcb_intern_atom_reply_t> atom(xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, 9, "CLIPBOARD"), nullptr));
    XcbReply<xcb_get_selection_owner_reply_t> owner(
        xcb_get_selection_owner_reply(c, xcb_get_selection_owner(c, atom->atom), nullptr));
    return owner->owner;
}

// Key codes of Alt_L and Shift_L in the keymap Xvfb starts with.
constexpr xcb_keycode_t altKey = 64;
constexpr xcb_keycode_t shiftKey = 50;
constexpr xcb_keycode_t f9Key = 75;

// Whether the key is down on the server (xdotool and XTest presses included).
bool isKeyDown(xcb_keycode_t code)
{
    xcb_connection_t *c = qtConnection();
    XcbReply<xcb_query_keymap_reply_t> keymap(xcb_query_keymap_reply(c, xcb_query_keymap(c), nullptr));
    return keymap && (keymap->keys[code / 8] & (1 << (code % 8)));
}

bool focus(const QString &window)
{
    QProcess xdotool;
    xdotool.start(QStringLiteral("xdotool"), {QStringLiteral("windowfocus"), QStringLiteral("--sync"), window});
    return xdotool.waitForFinished(10000) && xdotool.exitCode() == 0;
}

QString decoded(const QString &percentEncoded)
{
    return QString::fromUtf8(QByteArray::fromPercentEncoding(percentEncoded.toUtf8()));
}

} // namespace

class TestX11Injection : public QObject {
    Q_OBJECT

    // A target window shown and focused; nullptr (with a failed check) when it could not be.
    std::unique_ptr<HelperProcess> focusedTarget(const QStringList &arguments = {},
                                          const QProcessEnvironment &environment = QProcessEnvironment::systemEnvironment())
    {
        auto target = std::make_unique<HelperProcess>(QStringLiteral("injection_target"), arguments, environment);
        const auto window = target->waitForLine(QStringLiteral("window "));
        if (!window || !focus(*window) || !target->waitForLine(QStringLiteral("active")))
            return nullptr;
        return target;
    }

    static std::unique_ptr<TextInjector> systemInjector(std::chrono::milliseconds delay = TextInjector::defaultRestoreDelay)
    {
        return std::make_unique<TextInjector>(TextInjector::Services::system(), delay);
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY2(QGuiApplication::platformName() == QStringLiteral("xcb"), "run the tests through scripts/harness.sh");
        QVERIFY(QFile::exists(HelperProcess::helperPath(QStringLiteral("injection_target"))));
    }

    void cleanup()
    {
        // Leave no modifier held for the next test, whatever happened.
        run(QStringLiteral("xdotool"), {QStringLiteral("keyup"), QStringLiteral("alt+shift+F9")});
    }

    void textArrivesAndAForeignClipboardIsByteIdenticalAfterward()
    {
        const QByteArray blob("\x00\x01\x02\xff\xfe\x00murlex\x00", 13);
        HelperProcess owner(QStringLiteral("clipboard_owner"),
                     {QStringLiteral("text/plain=") + QString::fromLatin1(QStringLiteral("剪贴板原文 Grüße").toUtf8().toHex()),
                      QStringLiteral("text/html=") + QString::fromLatin1(QByteArrayLiteral("<b>原文</b> &amp; more").toHex()),
                      QStringLiteral("application/x-murlex-blob=") + QString::fromLatin1(blob.toHex())});
        QVERIFY(owner.waitForLine(QStringLiteral("owned")));
        const TargetBytes before = readClipboardAsAnotherClient();
        QCOMPARE(before.value(QStringLiteral("UTF8_STRING")), QStringLiteral("剪贴板原文 Grüße").toUtf8());
        QCOMPARE(before.value(QStringLiteral("text/html")), QByteArrayLiteral("<b>原文</b> &amp; more"));
        QCOMPARE(before.value(QStringLiteral("application/x-murlex-blob")), blob);

        // What a snapshot holds: the data formats in order, without the selection protocol's targets.
        const ClipboardSnapshot snapshot = Platform::clipboard()->snapshot();
        QStringList formats;
        for (const ClipboardFormat &format : snapshot)
            formats << format.mimeType;
        QVERIFY2(formats.contains(QStringLiteral("application/x-murlex-blob")), qPrintable(formats.join(u' ')));
        for (const char *protocol : {"TARGETS", "MULTIPLE", "TIMESTAMP", "SAVE_TARGETS"})
            QVERIFY2(!formats.contains(QLatin1String(protocol)), qPrintable(formats.join(u' ')));

        std::unique_ptr<HelperProcess> target = focusedTarget();
        QVERIFY(target);
        LogCapture log;
        std::unique_ptr<TextInjector> injector = systemInjector();
        QSignalSpy restored(injector.get(), &TextInjector::clipboardRestored);

        const QString text = QStringLiteral("你好，世界 👍🏽");
        QVERIFY(injector->inject(text));
        const auto received = target->waitForLine(QStringLiteral("text "));
        QVERIFY(received);
        QCOMPARE(decoded(*received), text);
        QCOMPARE(target->linesStartingWith(QStringLiteral("key ")), QStringList{QStringLiteral("Ctrl+V")});

        QTRY_COMPARE_WITH_TIMEOUT(restored.count(), 1, 2000);
        QVERIFY(QGuiApplication::clipboard()->ownsClipboard());
        QCOMPARE(readClipboardAsAnotherClient(), before);
        QCOMPARE(log.messages(QStringLiteral("injection")), QStringList{QStringLiteral("injected 7 chars via pasteboard")});
        QVERIFY(log.contains(QStringLiteral("injection"), QtInfoMsg, QStringLiteral("injected 7 chars via pasteboard")));
    }

    // A format whose data is zero bytes is part of the clipboard like any other and comes back.
    void aZeroByteFormatComesBackAfterThePaste()
    {
        HelperProcess owner(QStringLiteral("clipboard_owner"),
                            {QStringLiteral("application/x-murlex-marker="), QStringLiteral("text/plain=") +
                                 QString::fromLatin1(QByteArrayLiteral("原文").toHex())});
        QVERIFY(owner.waitForLine(QStringLiteral("owned")));
        const TargetBytes before = readClipboardAsAnotherClient();
        QVERIFY(before.contains(QStringLiteral("application/x-murlex-marker")));
        QCOMPARE(before.value(QStringLiteral("application/x-murlex-marker")), QByteArray());

        std::unique_ptr<HelperProcess> target = focusedTarget();
        QVERIFY(target);
        std::unique_ptr<TextInjector> injector = systemInjector();
        QSignalSpy restored(injector.get(), &TextInjector::clipboardRestored);
        QVERIFY(injector->inject(QStringLiteral("好")));
        QVERIFY(target->waitForLine(QStringLiteral("text ")));
        QTRY_COMPARE_WITH_TIMEOUT(restored.count(), 1, 2000);
        QCOMPARE(readClipboardAsAnotherClient(), before);
    }

    void dictatedTextIsMarkedForClipboardManagers()
    {
        const std::unique_ptr<Clipboard> clipboard = Platform::clipboard();
        clipboard->setTransientText(QStringLiteral("口令"));
        QCOMPARE(readClipboardAsAnotherClient().value(QStringLiteral("x-kde-passwordManagerHint")),
                 QByteArrayLiteral("secret"));
        QCOMPARE(readClipboardAsAnotherClient().value(QStringLiteral("UTF8_STRING")), QStringLiteral("口令").toUtf8());
        clipboard->restore({});
        QCOMPARE(clipboardOwner(), xcb_window_t(XCB_NONE));
    }

    void anEmptyClipboardIsEmptyAgain()
    {
        QGuiApplication::clipboard()->setText(QStringLiteral("x"));
        QGuiApplication::clipboard()->clear();
        QCOMPARE(clipboardOwner(), xcb_window_t(XCB_NONE));

        std::unique_ptr<HelperProcess> target = focusedTarget({QStringLiteral("--textedit")});
        QVERIFY(target);
        std::unique_ptr<TextInjector> injector = systemInjector();
        QSignalSpy restored(injector.get(), &TextInjector::clipboardRestored);
        QVERIFY(injector->inject(QStringLiteral("第一行\n第二行")));
        const auto received = target->waitForLine(QStringLiteral("text "));
        QVERIFY(received);
        QCOMPARE(decoded(*received), QStringLiteral("第一行\n第二行"));

        QTRY_COMPARE_WITH_TIMEOUT(restored.count(), 1, 2000);
        QCOMPARE(clipboardOwner(), xcb_window_t(XCB_NONE));
        QCOMPARE(readClipboardAsAnotherClient(), TargetBytes());
    }

    void heldModifiersDoNotBreakThePaste()
    {
        std::unique_ptr<HelperProcess> target = focusedTarget();
        QVERIFY(target);
        // The user still holds Alt and Shift of the dictation shortcut.
        QVERIFY(run(QStringLiteral("xdotool"), {QStringLiteral("keydown"), QStringLiteral("alt+shift")}));
        QVERIFY(isKeyDown(altKey) && isKeyDown(shiftKey));

        QLoggingCategory::setFilterRules(QStringLiteral("quillfen.MurlexMac.injection.debug=true"));
        LogCapture log;
        std::unique_ptr<TextInjector> injector = systemInjector();
        QSignalSpy restored(injector.get(), &TextInjector::clipboardRestored);
        QVERIFY(injector->inject(QStringLiteral("按住也行")));
        QCOMPARE(log.messages(QStringLiteral("injection"), QtDebugMsg),
                 QStringList{QStringLiteral("releasing 2 held modifier keys around the paste chord")});
        const auto received = target->waitForLine(QStringLiteral("text "));
        QVERIFY(received);
        QCOMPARE(decoded(*received), QStringLiteral("按住也行"));
        QCOMPARE(target->linesStartingWith(QStringLiteral("key ")), QStringList{QStringLiteral("Ctrl+V")});
        // The keys the user holds are held again afterwards.
        QVERIFY(isKeyDown(altKey) && isKeyDown(shiftKey));
        QTRY_COMPARE_WITH_TIMEOUT(restored.count(), 1, 2000);
    }

    void aStillHeldShortcutKeyDelaysThePasteUntilItComesUp()
    {
        std::unique_ptr<HelperProcess> target = focusedTarget();
        QVERIFY(target);
        // A global shortcut of this process, F9, pressed and still held: its passive grab is active.
        xcb_connection_t *c = qtConnection();
        const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(c)).data->root;
        XcbReply<xcb_generic_error_t> grabError(xcb_request_check(
            c, xcb_grab_key_checked(c, 0, root, XCB_MOD_MASK_ANY, f9Key, XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC)));
        QVERIFY(!grabError);
        QVERIFY(run(QStringLiteral("xdotool"), {QStringLiteral("keydown"), QStringLiteral("F9")}));
        QVERIFY(isKeyDown(f9Key));

        // The user lets go of it a moment later.
        QProcess release;
        release.start(QStringLiteral("sh"), {QStringLiteral("-c"), QStringLiteral("sleep 0.2; xdotool keyup F9")});
        QVERIFY(release.waitForStarted());
        std::unique_ptr<TextInjector> injector = systemInjector();
        QSignalSpy restored(injector.get(), &TextInjector::clipboardRestored);
        QElapsedTimer elapsed;
        elapsed.start();
        QVERIFY(injector->inject(QStringLiteral("松开再贴")));
        const qint64 waited = elapsed.elapsed();
        QVERIFY(release.waitForFinished());
        xcb_ungrab_key(c, f9Key, root, XCB_MOD_MASK_ANY);
        xcb_flush(c);
        QVERIFY2(waited >= 150 && waited < KeySynthesis::heldKeyReleaseWait.count(), qPrintable(QString::number(waited)));

        const auto received = target->waitForLine(QStringLiteral("text "));
        QVERIFY(received);
        QCOMPARE(decoded(*received), QStringLiteral("松开再贴"));
        QCOMPARE(target->linesStartingWith(QStringLiteral("key ")), QStringList{QStringLiteral("Ctrl+V")});
        QTRY_COMPARE_WITH_TIMEOUT(restored.count(), 1, 2000);
    }

    void aKeyHeldOnAndOnDelaysThePasteOnlyBriefly()
    {
        std::unique_ptr<HelperProcess> target = focusedTarget();
        QVERIFY(target);
        QVERIFY(run(QStringLiteral("xdotool"), {QStringLiteral("keydown"), QStringLiteral("F9")}));
        std::unique_ptr<TextInjector> injector = systemInjector();
        QSignalSpy restored(injector.get(), &TextInjector::clipboardRestored);
        QElapsedTimer elapsed;
        elapsed.start();
        QVERIFY(injector->inject(QStringLiteral("照贴")));
        const qint64 waited = elapsed.elapsed();
        QVERIFY(run(QStringLiteral("xdotool"), {QStringLiteral("keyup"), QStringLiteral("F9")}));
        // Half a second: long enough for a shortcut's release, short enough not to be noticed.
        QCOMPARE(KeySynthesis::heldKeyReleaseWait, std::chrono::milliseconds(500));
        QVERIFY2(waited >= 450 && waited < 1500, qPrintable(QString::number(waited)));
        const auto received = target->waitForLine(QStringLiteral("text "));
        QVERIFY(received);
        QVERIFY(decoded(*received).endsWith(QStringLiteral("照贴")));
        QTRY_COMPARE_WITH_TIMEOUT(restored.count(), 1, 2000);
    }

    void terminalWindowGetsControlShiftV()
    {
        std::unique_ptr<HelperProcess> terminal =
            focusedTarget({QStringLiteral("--wm-class"), QStringLiteral("gnome-terminal-server,Gnome-terminal")});
        QVERIFY(terminal);
        QCOMPARE(Platform::focusedWindow()->windowClass(),
                 (WindowClass{QStringLiteral("gnome-terminal-server"), QStringLiteral("Gnome-terminal")}));

        std::unique_ptr<TextInjector> injector = systemInjector();
        QSignalSpy restored(injector.get(), &TextInjector::clipboardRestored);
        QVERIFY(injector->inject(QStringLiteral("ls -la")));
        QVERIFY(terminal->waitForLine(QStringLiteral("key ")));
        QTest::qWait(200);
        QCOMPARE(terminal->linesStartingWith(QStringLiteral("key ")), QStringList{QStringLiteral("Ctrl+Shift+V")});
        QTRY_COMPARE_WITH_TIMEOUT(restored.count(), 1, 2000);
    }

    void accessibilityPathAppendsToAFocusedQtField()
    {
        QProcessEnvironment accessible = QProcessEnvironment::systemEnvironment();
        accessible.insert(QStringLiteral("QT_LINUX_ACCESSIBILITY_ALWAYS_ON"), QStringLiteral("1"));
        {
            std::unique_ptr<HelperProcess> field = focusedTarget({QStringLiteral("--text"), QStringLiteral("已有 ")}, accessible);
            QVERIFY(field);
            // The field's application registers on the accessibility bus in its own time.
            const std::unique_ptr<Accessibility> accessibility = Platform::accessibility();
            std::unique_ptr<AccessibleElement> element;
            QTRY_VERIFY_WITH_TIMEOUT((element = accessibility->focusedElement()) != nullptr, 20000);
            QCOMPARE(element->textValue(), std::optional<QString>(QStringLiteral("已有 ")));

            LogCapture log;
            std::unique_ptr<TextInjector> injector = systemInjector();
            injector->setMode(TextInjector::Mode::accessibility);
            QVERIFY(injector->inject(QStringLiteral("新的👍🏽")));
            const auto received = field->waitForLine(QStringLiteral("text "));
            QVERIFY(received);
            QCOMPARE(decoded(*received), QStringLiteral("已有 新的👍🏽"));
            QCOMPARE(log.messages(QStringLiteral("injection")), QStringList{QStringLiteral("injected 3 chars via AX")});
            QVERIFY(log.contains(QStringLiteral("injection"), QtInfoMsg, QStringLiteral("injected 3 chars via AX")));
            QVERIFY(field->linesStartingWith(QStringLiteral("key ")).isEmpty());
        }
        {
            // A focused field of an application that is not on the accessibility bus.
            std::unique_ptr<HelperProcess> field = focusedTarget();
            QVERIFY(field);
            LogCapture log;
            std::unique_ptr<TextInjector> injector = systemInjector();
            injector->setMode(TextInjector::Mode::accessibility);
            QVERIFY(!injector->inject(QStringLiteral("新的")));
            QCOMPARE(log.messages(QStringLiteral("injection")), QStringList{QStringLiteral("AX: no focused element")});
            QVERIFY(log.contains(QStringLiteral("injection"), QtCriticalMsg, QStringLiteral("AX: no focused element")));
        }
    }

    void withoutXTestNothingIsTouched()
    {
        // A second X server without the XTEST extension, on a display it picks itself.
        QProcess xvfb;
        xvfb.start(QStringLiteral("bash"),
                   {QStringLiteral("-c"),
                    QStringLiteral("exec Xvfb -displayfd 3 -extension XTEST -nolisten tcp -screen 0 640x480x24 3>&1")});
        QVERIFY(xvfb.waitForStarted(5000));
        QVERIFY(QTest::qWaitFor([&] { return xvfb.canReadLine(); }, 15000));
        const QByteArray display = ':' + xvfb.readLine().trimmed();

        QVERIFY(Platform::keySynthesis(qgetenv("DISPLAY"))->isTrusted());
        QVERIFY(Platform::keySynthesis()->isTrusted());
        QVERIFY(!Platform::keySynthesis(display)->isTrusted());
        QVERIFY(!Platform::keySynthesis(QByteArrayLiteral(":64999"))->isTrusted()); // no server at all

        HelperProcess owner(QStringLiteral("clipboard_owner"),
                     {QStringLiteral("text/plain=") + QString::fromLatin1(QByteArrayLiteral("keep me").toHex())});
        QVERIFY(owner.waitForLine(QStringLiteral("owned")));
        const TargetBytes before = readClipboardAsAnotherClient();
        const xcb_window_t ownerWindow = clipboardOwner();

        LogCapture log;
        TextInjector injector(TextInjector::Services{Platform::clipboard(), Platform::keySynthesis(display),
                                                     Platform::focusedWindow(display), Platform::accessibility()});
        QSignalSpy restored(&injector, &TextInjector::clipboardRestored);
        QVERIFY(!injector.inject(QStringLiteral("不该出现")));
        QVERIFY(!restored.wait(400));
        QCOMPARE(clipboardOwner(), ownerWindow);
        QCOMPARE(readClipboardAsAnotherClient(), before);
        QCOMPARE(log.messages(QStringLiteral("injection")),
                 QStringList{QStringLiteral("Accessibility permission not granted; opening system settings")});
        QVERIFY(log.contains(QStringLiteral("injection"), QtCriticalMsg,
                             QStringLiteral("Accessibility permission not granted; opening system settings")));

        xvfb.terminate();
        QVERIFY(xvfb.waitForFinished(10000));
    }

    void withoutAnyDisplayTheInjectorAnswersFalse()
    {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.remove(QStringLiteral("DISPLAY"));
        environment.remove(QStringLiteral("WAYLAND_DISPLAY"));
        environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        environment.insert(QStringLiteral("QT_LOGGING_RULES"), QStringLiteral("quillfen.*=true"));
        HelperProcess probe(QStringLiteral("injection_probe"), {}, environment);
        QVERIFY(probe.waitForLine(QStringLiteral("inject ")));
        QTRY_COMPARE_WITH_TIMEOUT(probe.process().state(), QProcess::NotRunning, 10000);
        QCOMPARE(probe.process().exitStatus(), QProcess::NormalExit);
        QCOMPARE(probe.process().exitCode(), 0);
        QCOMPARE(probe.linesStartingWith(QStringLiteral("inject ")), QStringList{QStringLiteral("false")});
        const QString errors = QString::fromUtf8(probe.process().readAllStandardError());
        QVERIFY2(errors.contains(QStringLiteral(
                     "quillfen.MurlexMac.injection: Accessibility permission not granted; opening system settings")),
                 qPrintable(errors));
    }
};

QTEST_MAIN(TestX11Injection)
#include "tst_x11injection.moc"
