// test-labels: injection
// The injector on the harness's X server, against other processes: a focused text field that
// reports what it receives, a clipboard owner serving several formats, a terminal window, a field
// on the accessibility bus, and a second X server without XTEST.
#include "injection/TerminalEmulators.h"
#include "injection/TextInjector.h"
#include "platform/Platform.h"

#include "ExternalTool.h"
#include "FocusedField.h"
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

using namespace std::chrono_literals;

namespace {

// Owns a reply that xcb hands over for the caller to free().
template <typename T>
using XcbReply = std::unique_ptr<T, decltype([](void *block) { std::free(block); })>;
using TargetBytes = QMap<QString, QByteArray>;

xcb_connection_t *qtConnection()
{
    return qApp->nativeInterface<QNativeInterface::QX11Application>()->connection();
}

xcb_window_t clipboardOwnerWindow()
{
    xcb_connection_t *c = qtConnection();
    XcbReply<xcb_intern_atom_reply_t> atom(xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, 9, "CLIPBOARD"), nullptr));
    XcbReply<xcb_get_selection_owner_reply_t> owner(
        xcb_get_selection_owner_reply(c, xcb_get_selection_owner(c, atom->atom), nullptr));
    return owner->owner;
}

// Key codes of Alt_L, Shift_L and F9 in the keymap Xvfb starts with.
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

// An injector on this platform's services, with its restores counted.
struct Injector {
    explicit Injector(std::chrono::milliseconds delay = TextInjector::defaultRestoreDelay,
                      TextInjector::Services services = TextInjector::Services::system())
        : injector(std::move(services), delay)
    {
    }
    TextInjector injector;
    QSignalSpy restored{&injector, &TextInjector::clipboardRestored};
};

// A focused element without a text value that refuses every change: no real field here does that.
struct RefusingAccessibility : Accessibility {
    struct Element : AccessibleElement {
        QStringList *written;
        explicit Element(QStringList *w) : written(w) {}
        std::optional<QString> textValue() override { return std::nullopt; }
        int setTextValue(const QString &value) override { return written->append(value), -25205; }
    };
    QStringList written;
    std::unique_ptr<AccessibleElement> focusedElement() override { return std::make_unique<Element>(&written); }
};

// An input method framework that runs but has no focused field (the field does not use it).
struct FieldlessInputMethod : InputMethodCommit {
    int asked = 0;
    QString frameworkName() const override { return QStringLiteral("Fcitx5"); }
    std::chrono::milliseconds replyTimeout() const override { return defaultReplyTimeout; }
    QCoro::Task<Result> commit(QString) override { co_return ++asked, Result::noFocusedField; }
};

} // namespace

class TestX11Injection : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY2(QGuiApplication::platformName() == QStringLiteral("xcb"), "run the tests through scripts/harness.sh");
        QVERIFY(QFile::exists(HelperProcess::helperPath(QStringLiteral("injection_target"))));
    }

    void cleanup()
    {
        // Leave no modifier held for the next test, whatever happened.
        ExternalTool::xdotool({QStringLiteral("keyup"), QStringLiteral("alt+shift+F9+F10")});
    }

    void textArrivesAndAForeignClipboardIsByteIdenticalAfterward()
    {
        const QByteArray blob("\x00\x01\x02\xff\xfe\x00murlex\x00", 13);
        const auto owner = HelperProcess::clipboardOwner({{QStringLiteral("text/plain"), QStringLiteral("剪贴板原文 Grüße").toUtf8()},
                                           {QStringLiteral("text/html"), QByteArrayLiteral("<b>原文</b> &amp; more")},
                                           {QStringLiteral("application/x-murlex-blob"), blob},
                                           // a format of zero bytes is part of the clipboard like any other
                                           {QStringLiteral("application/x-murlex-marker"), QByteArray()}});
        QVERIFY(owner);
        const TargetBytes before = ExternalTool::xClipboard();
        QVERIFY(before.contains(QStringLiteral("application/x-murlex-marker")));
        QCOMPARE(before.value(QStringLiteral("application/x-murlex-blob")), blob);

        // What a snapshot holds: the data formats, without the selection protocol's targets.
        QStringList formats;
        for (const ClipboardFormat &format : Platform::clipboard()->snapshot())
            formats << format.mimeType;
        QVERIFY2(formats.contains(QStringLiteral("application/x-murlex-blob")), qPrintable(formats.join(u' ')));
        for (const char *protocol : {"TARGETS", "MULTIPLE", "TIMESTAMP", "SAVE_TARGETS"})
            QVERIFY2(!formats.contains(QLatin1String(protocol)), qPrintable(formats.join(u' ')));

        const auto target = focusedField();
        QVERIFY(target);
        LogCapture log;
        Injector i; // the real restore delay

        // An empty text is done at once and touches nothing.
        const xcb_window_t ownerWindow = clipboardOwnerWindow();
        QCOMPARE(QCoro::waitFor(i.injector.inject(QString())), TextInjection::Outcome::pasted);
        QCOMPARE(clipboardOwnerWindow(), ownerWindow);
        QVERIFY(log.messages(QStringLiteral("injection")).isEmpty());

        const QString text = QStringLiteral("你好，世界 👍🏽");
        QElapsedTimer clock;
        qint64 restoredAfter = -1;
        connect(&i.injector, &TextInjector::clipboardRestored, this, [&] { restoredAfter = clock.elapsed(); });
        clock.start();
        QCOMPARE(QCoro::waitFor(i.injector.inject(text)), TextInjection::Outcome::pasted);
        QCOMPARE(target->textAfterChange(), std::optional(text));
        QCOMPARE(target->linesStartingWith(QStringLiteral("key ")), QStringList{QStringLiteral("Ctrl+V")});

        QTRY_VERIFY_WITH_TIMEOUT(restoredAfter >= 0, 2000);
        QVERIFY2(restoredAfter >= 140 && restoredAfter < 1000, qPrintable(QString::number(restoredAfter)));
        QVERIFY(QGuiApplication::clipboard()->ownsClipboard());
        QCOMPARE(ExternalTool::xClipboard(), before);
        QCOMPARE(log.messages(QStringLiteral("injection")), QStringList{QStringLiteral("injected 7 chars via pasteboard")});
        QCOMPARE(target->linesStartingWith(QStringLiteral("text ")).size(), 1);
    }

    // Dictated text is offered marked for clipboard managers, and a clipboard that was empty is
    // empty again afterwards. Copy only leaves the text there for good, unmarked (a clipboard
    // manager may keep it), without a key or the input method; its log counts what a person sees
    // as one character once.
    void dictatedTextIsMarkedAndAnEmptyClipboardIsEmptyAgainUnlessCopyOnly()
    {
        const std::unique_ptr<Clipboard> clipboard = Platform::clipboard();
        clipboard->setTransientText(QStringLiteral("口令"));
        const TargetBytes offered = ExternalTool::xClipboard();
        QCOMPARE(offered.value(QStringLiteral("x-kde-passwordManagerHint")), QByteArrayLiteral("secret"));
        QCOMPARE(offered.value(QStringLiteral("UTF8_STRING")), QStringLiteral("口令").toUtf8());
        clipboard->restore({});
        QCOMPARE(clipboardOwnerWindow(), xcb_window_t(XCB_NONE));

        const auto target = focusedField({QStringLiteral("--textedit")});
        QVERIFY(target);
        auto *inputMethod = new FieldlessInputMethod;
        Injector i(TextInjector::defaultRestoreDelay, {Platform::clipboard(), Platform::keySynthesis(), Platform::focusedWindow(),
                                                       Platform::accessibility(), std::unique_ptr<InputMethodCommit>(inputMethod)});
        QCOMPARE(QCoro::waitFor(i.injector.inject(QStringLiteral("第一行\n第二行"))), TextInjection::Outcome::pasted);
        QCOMPARE(target->textAfterChange(), std::optional(QStringLiteral("第一行\n第二行")));
        QTRY_COMPARE_WITH_TIMEOUT(i.restored.count(), 1, 2000);
        QCOMPARE(clipboardOwnerWindow(), xcb_window_t(XCB_NONE));
        QCOMPARE(ExternalTool::xClipboard(), TargetBytes());

        LogCapture log;
        const QString text = QStringLiteral("🇨🇳🇫🇷 仅复制 👨‍👩‍👧‍👦 e\u0301");
        QVERIFY(QCoro::waitFor(i.injector.copy(text)));
        QVERIFY(!i.restored.wait(400));
        const TargetBytes copied = ExternalTool::xClipboard();
        QCOMPARE(copied.value(QStringLiteral("UTF8_STRING")), text.toUtf8());
        QVERIFY(!copied.contains(QStringLiteral("x-kde-passwordManagerHint")));
        QCOMPARE(target->linesStartingWith(QStringLiteral("key ")).size(), 1);
        QCOMPARE(inputMethod->asked, 1); // by the paste alone
        QCOMPARE(log.messages(QStringLiteral("injection")), QStringList{QStringLiteral("copied 10 chars to the clipboard")});
    }

    // Alt and Shift of the dictation shortcut, still held, are let go around the paste chord and
    // held again afterwards. A key of one of our global shortcuts still held delays the paste
    // until it comes up, or for at most a moment when it stays down.
    void heldKeysNeitherBreakNorLongDelayThePaste()
    {
        // Long enough for a shortcut's release, short enough not to be noticed.
        QCOMPARE(KeySynthesis::heldKeyReleaseWait, 500ms);
        const auto target = focusedField();
        QVERIFY(target);
        QVERIFY(ExternalTool::xdotool({QStringLiteral("keydown"), QStringLiteral("alt+shift")}));
        QVERIFY(isKeyDown(altKey) && isKeyDown(shiftKey));
        QLoggingCategory::setFilterRules(QStringLiteral("quillfen.MurlexMac.injection.debug=true"));
        LogCapture log;
        Injector i;
        QCOMPARE(QCoro::waitFor(i.injector.inject(QStringLiteral("按住也行"))), TextInjection::Outcome::pasted);
        QCOMPARE(log.messages(QStringLiteral("injection")).first(), QStringLiteral("releasing 2 held modifier keys around the paste chord"));
        QCOMPARE(target->textAfterChange(), std::optional(QStringLiteral("按住也行")));
        QVERIFY(isKeyDown(altKey) && isKeyDown(shiftKey));
        QTRY_COMPARE_WITH_TIMEOUT(i.restored.count(), 1, 2000);
        QVERIFY(ExternalTool::xdotool({QStringLiteral("keyup"), QStringLiteral("alt+shift")}));

        // F9 as a global shortcut of this process, pressed and still held: its passive grab is active.
        xcb_connection_t *c = qtConnection();
        const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(c)).data->root;
        XcbReply<xcb_generic_error_t> grabError(xcb_request_check(
            c, xcb_grab_key_checked(c, 0, root, XCB_MOD_MASK_ANY, f9Key, XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC)));
        QVERIFY(!grabError);
        const auto ungrab = qScopeGuard([&] {
            xcb_ungrab_key(c, f9Key, root, XCB_MOD_MASK_ANY);
            xcb_flush(c);
        });
        QVERIFY(ExternalTool::xdotool({QStringLiteral("keydown"), QStringLiteral("F9")}));
        QVERIFY(isKeyDown(f9Key));

        QProcess release; // the user lets go of it a moment later
        release.start(QStringLiteral("sh"), {QStringLiteral("-c"), QStringLiteral("sleep 0.2; xdotool keyup F9")});
        QElapsedTimer elapsed;
        elapsed.start();
        qint64 timerRanAt = -1;
        QTimer::singleShot(50, [&] { timerRanAt = elapsed.elapsed(); });
        QCOMPARE(QCoro::waitFor(i.injector.inject(QStringLiteral("松开再贴"))), TextInjection::Outcome::pasted);
        qint64 waited = elapsed.elapsed();
        QVERIFY(release.waitForFinished());
        QVERIFY2(waited >= 150 && waited < KeySynthesis::heldKeyReleaseWait.count(), qPrintable(QString::number(waited)));
        // The event loop ran on while the paste waited.
        QVERIFY2(timerRanAt >= 0 && timerRanAt < waited, qPrintable(QString::number(timerRanAt)));
        QCOMPARE(target->textAfterChange(2), std::optional(QStringLiteral("按住也行松开再贴")));
        QCOMPARE(target->linesStartingWith(QStringLiteral("key ")), QStringList(2, QStringLiteral("Ctrl+V")));

        // Another key held on and on: the paste goes after the wait.
        QVERIFY(ExternalTool::xdotool({QStringLiteral("keydown"), QStringLiteral("F10")}));
        elapsed.restart();
        QCOMPARE(QCoro::waitFor(i.injector.inject(QStringLiteral("照贴"))), TextInjection::Outcome::pasted);
        waited = elapsed.elapsed();
        QVERIFY(ExternalTool::xdotool({QStringLiteral("keyup"), QStringLiteral("F10")}));
        QVERIFY2(waited >= 450 && waited < 1500, qPrintable(QString::number(waited)));
        QCOMPARE(target->textAfterChange(3), std::optional(QStringLiteral("按住也行松开再贴照贴")));
        QTRY_COMPARE_WITH_TIMEOUT(i.restored.count(), 2, 2000);
    }

    void terminalWindowGetsControlShiftV()
    {
        std::unique_ptr<HelperProcess> terminal =
            focusedField({QStringLiteral("--wm-class"), QStringLiteral("gnome-terminal-server,Gnome-terminal")});
        QVERIFY(terminal);
        QCOMPARE(Platform::focusedWindow()->windowClass(),
                 (WindowClass{QStringLiteral("gnome-terminal-server"), QStringLiteral("Gnome-terminal")}));
        Injector i;
        QCOMPARE(QCoro::waitFor(i.injector.inject(QStringLiteral("ls -la"))), TextInjection::Outcome::pasted);
        QVERIFY(terminal->waitForLine(QStringLiteral("key ")));
        QTRY_COMPARE_WITH_TIMEOUT(i.restored.count(), 1, 2000);
        QCOMPARE(terminal->linesStartingWith(QStringLiteral("key ")), QStringList{QStringLiteral("Ctrl+Shift+V")});
        QVERIFY(TerminalEmulators::contains({QString(), QStringLiteral("kitty")})); // by the class alone

        // Its application is not on the accessibility bus: that path finds no element.
        LogCapture log;
        i.injector.setMode(TextInjector::Mode::accessibility);
        QCOMPARE(QCoro::waitFor(i.injector.inject(QStringLiteral("新的"))), TextInjection::Outcome::failed);
        QCOMPARE(log.messages(QStringLiteral("injection")), QStringList{QStringLiteral("AX: no focused element")});
    }

    void accessibilityPathAppendsToTheFocusedField()
    {
        QProcessEnvironment accessible = QProcessEnvironment::systemEnvironment();
        accessible.insert(QStringLiteral("QT_LINUX_ACCESSIBILITY_ALWAYS_ON"), QStringLiteral("1"));
        {
            const auto field = focusedField({QStringLiteral("--text"), QStringLiteral("已有 ")}, accessible);
            QVERIFY(field);
            // The field's application registers on the accessibility bus in its own time.
            const std::unique_ptr<Accessibility> accessibility = Platform::accessibility();
            std::unique_ptr<AccessibleElement> element;
            QTRY_VERIFY_WITH_TIMEOUT((element = accessibility->focusedElement()) != nullptr, 20000);
            QCOMPARE(element->textValue(), std::optional<QString>(QStringLiteral("已有 ")));

            LogCapture log;
            Injector i;
            i.injector.setMode(TextInjector::Mode::accessibility);
            QCOMPARE(QCoro::waitFor(i.injector.inject(QStringLiteral("新的👍🏽"))), TextInjection::Outcome::pasted);
            QCOMPARE(field->textAfterChange(), std::optional(QStringLiteral("已有 新的👍🏽")));
            QCOMPARE(log.messages(QStringLiteral("injection")), QStringList{QStringLiteral("injected 3 chars via AX")});
            QVERIFY(field->linesStartingWith(QStringLiteral("key ")).isEmpty());
            QVERIFY(!i.restored.wait(300)); // the clipboard was not used
        }
        {
            // An element without a text value gets the text alone; its refusal is logged and reported.
            LogCapture log;
            auto *refusing = new RefusingAccessibility;
            Injector i(TextInjector::defaultRestoreDelay, {Platform::clipboard(), Platform::keySynthesis(),
                                                           Platform::focusedWindow(), std::unique_ptr<Accessibility>(refusing)});
            i.injector.setMode(TextInjector::Mode::accessibility);
            QCOMPARE(QCoro::waitFor(i.injector.inject(QStringLiteral("文字"))), TextInjection::Outcome::failed);
            QCOMPARE(refusing->written, QStringList{QStringLiteral("文字")});
            QCOMPARE(log.messages(QStringLiteral("injection")), QStringList{QStringLiteral("AX set value failed: -25205")});
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
        const auto stop = qScopeGuard([&] {
            xvfb.terminate();
            xvfb.waitForFinished(10000);
        });

        QVERIFY(Platform::keySynthesis()->isTrusted());
        QVERIFY(!Platform::keySynthesis(display)->isTrusted());
        QVERIFY(!Platform::keySynthesis(QByteArrayLiteral(":64999"))->isTrusted()); // no server at all

        const auto owner = HelperProcess::clipboardOwner({{QStringLiteral("text/plain"), QByteArrayLiteral("keep me")}});
        QVERIFY(owner);
        const TargetBytes before = ExternalTool::xClipboard();
        const xcb_window_t ownerWindow = clipboardOwnerWindow();

        LogCapture log;
        Injector i(TextInjector::defaultRestoreDelay, {Platform::clipboard(), Platform::keySynthesis(display),
                                                       Platform::focusedWindow(display), Platform::accessibility()});
        QCOMPARE(QCoro::waitFor(i.injector.inject(QStringLiteral("不该出现"))), TextInjection::Outcome::failed);
        i.injector.setMode(TextInjector::Mode::accessibility);
        QCOMPARE(QCoro::waitFor(i.injector.inject(QStringLiteral("不该出现"))), TextInjection::Outcome::failed);
        QVERIFY(!i.restored.wait(400));
        QCOMPARE(clipboardOwnerWindow(), ownerWindow);
        QCOMPARE(ExternalTool::xClipboard(), before);
        const QString notTrusted = QStringLiteral("Accessibility permission not granted; opening system settings");
        QCOMPARE(log.messages(QStringLiteral("injection")), (QStringList{notTrusted, notTrusted}));
    }

    // The clipboard is read while the text is on its way. An owner that has stopped answering by the
    // paste does not matter then, and what it held comes back; a copy made during the wait is what
    // comes back instead, byte for byte in every format. A second paste before the first one's
    // restore: the user's contents come back once, from the snapshot before the first paste, and
    // the first restore does not pull the clipboard away under the second paste.
    void theClipboardAsItWasJustBeforeThePasteComesBack()
    {
        const auto target = focusedField();
        QVERIFY(target);
        Injector i; // the real restore delay: the field fetches the text before it
        const auto frozen = HelperProcess::clipboardOwner({{QStringLiteral("text/plain"), QByteArrayLiteral("before")}});
        QVERIFY(frozen);
        const TargetBytes before = ExternalTool::xClipboard();
        i.injector.expectText();
        QTest::qWait(200);
        const QString frozenPid = QString::number(frozen->process().processId());
        QVERIFY(ExternalTool::run(QStringLiteral("kill"), {QStringLiteral("-STOP"), frozenPid}));
        const TextInjection::Outcome first = QCoro::waitFor(i.injector.inject(QStringLiteral("第一")));
        QVERIFY(ExternalTool::run(QStringLiteral("kill"), {QStringLiteral("-CONT"), frozenPid}));
        QCOMPARE(first, TextInjection::Outcome::pasted);
        QTRY_COMPARE_WITH_TIMEOUT(i.restored.count(), 1, 2000);
        QCOMPARE(ExternalTool::xClipboard(), before);

        i.injector.expectText();
        QTest::qWait(200);
        const auto copied = HelperProcess::clipboardOwner({{QStringLiteral("text/plain"), QStringLiteral("等待中复制").toUtf8()},
                                                           {QStringLiteral("application/x-murlex-blob"), QByteArray("\x00\xffm\x00", 4)}});
        QVERIFY(copied);
        const TargetBytes during = ExternalTool::xClipboard();
        QCOMPARE(QCoro::waitFor(i.injector.inject(QStringLiteral("第二"))), TextInjection::Outcome::pasted);
        QTRY_COMPARE_WITH_TIMEOUT(i.restored.count(), 2, 2000);
        QCOMPARE(ExternalTool::xClipboard(), during);
        QCOMPARE(target->textAfterChange(2), std::optional(QStringLiteral("第一第二")));

        // An owner that quits during the wait leaves the clipboard empty, and empty it stays.
        auto quitting = HelperProcess::clipboardOwner({{QStringLiteral("text/plain"), QByteArrayLiteral("gone")}});
        QVERIFY(quitting);
        i.injector.expectText();
        QTest::qWait(200);
        quitting.reset();
        QTRY_COMPARE_WITH_TIMEOUT(clipboardOwnerWindow(), xcb_window_t(XCB_NONE), 2000);
        QCOMPARE(QCoro::waitFor(i.injector.inject(QStringLiteral("第三"))), TextInjection::Outcome::pasted);
        QTRY_COMPARE_WITH_TIMEOUT(i.restored.count(), 3, 2000);
        QCOMPARE(clipboardOwnerWindow(), xcb_window_t(XCB_NONE));

        const auto owner = HelperProcess::clipboardOwner({{QStringLiteral("text/plain"), QByteArrayLiteral("user text")}});
        QVERIFY(owner);
        const TargetBytes user = ExternalTool::xClipboard();
        Injector slow(1000ms);
        QCOMPARE(QCoro::waitFor(slow.injector.inject(QStringLiteral("第四"))), TextInjection::Outcome::pasted);
        QCOMPARE(target->textAfterChange(4), std::optional(QStringLiteral("第一第二第三第四")));
        QTest::qWait(400);
        QCOMPARE(QCoro::waitFor(slow.injector.inject(QStringLiteral("第五"))), TextInjection::Outcome::pasted);
        QTest::qWait(700); // past the first paste's restore time, within the second's
        QCOMPARE(slow.restored.count(), 0);
        QCOMPARE(target->textAfterChange(5), std::optional(QStringLiteral("第一第二第三第四第五")));
        QTRY_COMPARE_WITH_TIMEOUT(slow.restored.count(), 1, 2000);
        QCOMPARE(ExternalTool::xClipboard(), user);
        QVERIFY(!slow.restored.wait(300));
    }
};

QTEST_MAIN(TestX11Injection)
#include "tst_x11injection.moc"
