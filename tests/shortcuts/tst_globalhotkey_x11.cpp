// test-labels: shortcuts
// The dictation hot key on a real X server (the harness's Xvfb), pressed with xdotool.
#include "core/AppIdentity.h"
#include "HelperProcess.h"
#include "LogCapture.h"
#include "StdoutCapture.h"
#include "shortcuts/CarbonKeyboardShortcuts.h"
#include "shortcuts/GlobalHotkey.h"
#include "shortcuts/KeyboardShortcuts.h"
#include "shortcuts/ModifierFlags.h"

#include <QApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMenu>
#include <QProcess>
#include <QSettings>
#include <QTemporaryDir>
#include <QtTest>

using namespace KeyboardShortcuts;

namespace {
constexpr qint64 control = ModifierFlags::controlKey;
constexpr qint64 option = ModifierFlags::optionKey;
constexpr qint64 shift = ModifierFlags::shiftKey;
constexpr qint64 command = ModifierFlags::cmdKey;

bool xdotool(const QStringList &arguments)
{
    QProcess process;
    process.start(QStringLiteral("xdotool"), arguments);
    return process.waitForFinished(10000) && process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
}

// Records the key presses a widget receives, with the library's shortcut for each.
class KeyRecorder : public QObject {
public:
    struct Press {
        int key;
        bool autoRepeat;
        std::optional<Shortcut> shortcut;
    };
    QList<Press> presses;
    bool eventFilter(QObject *, QEvent *event) override
    {
        if (event->type() == QEvent::KeyPress) {
            const auto *key = static_cast<QKeyEvent *>(event);
            presses.append({key->key(), key->isAutoRepeat(), Shortcut::fromKeyEvent(*key)});
        }
        return false;
    }
};
} // namespace

class TestGlobalHotkeyX11 : public QObject {
    Q_OBJECT

    QTemporaryDir m_settingsDir;
    GlobalHotkey *m_hotkey = nullptr;
    int m_triggers = 0;
    int m_releases = 0;

    // Presses the dictation shortcut once and waits for its trigger; then makes sure no second
    // trigger follows.
    bool pressOnce()
    {
        const int before = m_triggers;
        if (!xdotool({QStringLiteral("key"), QStringLiteral("ctrl+alt+space")}))
            return false;
        if (!QTest::qWaitFor([&] { return m_triggers > before; }, 5000))
            return false;
        QTest::qWait(200);
        return m_triggers == before + 1;
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY2(QGuiApplication::platformName() == QStringLiteral("xcb"), "run the tests through scripts/harness.sh");
        QVERIFY(m_settingsDir.isValid());
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, m_settingsDir.path());
        AppIdentity::install();

        LogCapture log;
        m_hotkey = new GlobalHotkey(this);
        m_hotkey->onTrigger = [this] { ++m_triggers; };
        m_hotkey->registerHotkey(); // first use of the name: the default is written
        onKeyUp(GlobalHotkey::toggleDictation(), [this] { ++m_releases; });
        QVERIFY(log.contains(QStringLiteral("hotkey"), QtInfoMsg, QStringLiteral("hotkey registered: ⌃⌥空格")));
        QCOMPARE(QSettings().value(QStringLiteral("KeyboardShortcuts_toggleDictation")).toString(),
                 QStringLiteral(R"({"carbonKeyCode":49,"carbonModifiers":6144})"));
        QVERIFY(isEnabled(GlobalHotkey::toggleDictation()));
    }

    void defaultShortcutFiresOncePerPress()
    {
        const int releases = m_releases;
        QVERIFY(pressOnce());
        QVERIFY(pressOnce());
        QTRY_COMPARE(m_releases, releases + 2);
    }

    void firesWithCapsLockOrNumLockOn()
    {
        for (const QString &lock : {QStringLiteral("Caps_Lock"), QStringLiteral("Num_Lock")}) {
            QVERIFY(xdotool({QStringLiteral("key"), lock}));
            const bool fired = pressOnce();
            QVERIFY(xdotool({QStringLiteral("key"), lock}));
            QVERIFY2(fired, qPrintable(lock));
        }
    }

    void holdingTheKeysDoesNotRepeat()
    {
        const int triggers = m_triggers, releases = m_releases;
        QVERIFY(xdotool({QStringLiteral("keydown"), QStringLiteral("ctrl+alt+space")}));
        QTRY_COMPARE(m_triggers, triggers + 1);
        QTest::qWait(1500); // well past the server's auto-repeat delay
        QVERIFY(xdotool({QStringLiteral("keyup"), QStringLiteral("ctrl+alt+space")}));
        QTRY_COMPARE(m_releases, releases + 1);
        QTest::qWait(200);
        QCOMPARE(m_triggers, triggers + 1);
        QCOMPARE(m_releases, releases + 1);
    }

    void thePressNeverReachesOurFocusedField()
    {
        QLineEdit field;
        KeyRecorder recorder;
        field.installEventFilter(&recorder);
        field.show();
        QVERIFY(QTest::qWaitForWindowExposed(&field));
        QVERIFY(xdotool({QStringLiteral("windowfocus"), QStringLiteral("--sync"), QString::number(field.winId())}));
        QTRY_VERIFY(field.hasFocus());

        QVERIFY(pressOnce());
        // The keyboard reaches the field otherwise, and names its keys as the library does.
        QVERIFY(xdotool({QStringLiteral("key"), QStringLiteral("ctrl+shift+a")}));
        QTRY_VERIFY(!recorder.presses.isEmpty() && recorder.presses.last().key == Qt::Key_A);
        for (const KeyRecorder::Press &press : std::as_const(recorder.presses))
            QVERIFY(press.key != Qt::Key_Space);
        QCOMPARE(field.text(), QString());
        QCOMPARE(recorder.presses.last().shortcut, Shortcut(Key::a.rawValue, control | shift));

        // Holding a key in our own field after a hot-key press still repeats as Qt reports it.
        recorder.presses.clear();
        QVERIFY(xdotool({QStringLiteral("keydown"), QStringLiteral("b")}));
        QTest::qWait(1200);
        QVERIFY(xdotool({QStringLiteral("keyup"), QStringLiteral("b")}));
        QTRY_VERIFY(field.text().startsWith(QStringLiteral("bb")));
        QVERIFY(!recorder.presses.first().autoRepeat);
        QVERIFY(recorder.presses.last().autoRepeat);
    }

    void aPressWhileOurMenuIsOpenStillFires()
    {
        QMenu menu;
        menu.addAction(QStringLiteral("打开主窗口"));
        watchMenu(&menu);
        menu.popup(QPoint(100, 100));
        QVERIFY(QTest::qWaitForWindowExposed(&menu));
        QVERIFY(CarbonKeyboardShortcuts::isMenuOpen());
        const int releases = m_releases;
        QVERIFY(pressOnce());
        QTRY_COMPARE(m_releases, releases + 1);
        // Held on while the menu has the keyboard, the repeats fire nothing more.
        const int triggers = m_triggers;
        QVERIFY(xdotool({QStringLiteral("keydown"), QStringLiteral("ctrl+alt+space")}));
        QTest::qWait(1200); // past the server's auto-repeat delay
        QVERIFY(xdotool({QStringLiteral("keyup"), QStringLiteral("ctrl+alt+space")}));
        QTRY_COMPARE(m_releases, releases + 2);
        QCOMPARE(m_triggers, triggers + 1);
        QVERIFY(menu.isVisible());

        menu.hide();
        QVERIFY(!CarbonKeyboardShortcuts::isMenuOpen());
        QVERIFY(pressOnce()); // the root-window grab is back
    }

    void aKeyAnotherClientHoldsIsRefused()
    {
        HelperProcess holder(QStringLiteral("hotkey_holder"),
                             {QStringLiteral("k"), QStringLiteral("control"), QStringLiteral("alt")});
        QVERIFY(holder.waitForLine(QStringLiteral("holding")));

        const Name name(QStringLiteral("heldElsewhere"));
        const Shortcut taken(Key::k.rawValue, control | option);
        {
            StdoutCapture out;
            setShortcut(taken, name);
            QVERIFY2(out.text().contains(QStringLiteral("Error registering hotkey ⌃⌥K: 10\n")), qPrintable(out.text()));
        }
        QCOMPARE(name.shortcut(), taken); // stays stored and shown, though it never fires
        QVERIFY(isEnabled(name));

        // Combinations the X server cannot express are refused the same way.
        {
            StdoutCapture out;
            setShortcut(Shortcut(Key::a.rawValue, ModifierFlags::functionKey), name);
            setShortcut(Shortcut(Key::function.rawValue, control), name);
            QVERIFY2(out.text().contains(QStringLiteral("Error registering hotkey \U0001F310\uFE0EA: -1\n")),
                     qPrintable(out.text()));
            QVERIFY2(out.text().contains(QStringLiteral("Error registering hotkey ⌃\uFFFD: -1\n")), qPrintable(out.text()));
        }
        setShortcut(std::nullopt, name);
        holder.process().closeWriteChannel();
        QVERIFY(holder.process().waitForFinished(5000));
        QCOMPARE(holder.process().exitCode(), 0);
    }

    void aClearedShortcutIsLoggedAsNotSet()
    {
        LogCapture log;
        setShortcut(std::nullopt, GlobalHotkey::toggleDictation());
        GlobalHotkey another;
        another.registerHotkey();
        QVERIFY(log.contains(QStringLiteral("hotkey"), QtInfoMsg, QStringLiteral("hotkey registered: 未设置")));
        reset({GlobalHotkey::toggleDictation()});
        QVERIFY(pressOnce());
    }

    void layoutCharactersAndReservedShortcutsComeFromTheDesktop()
    {
        QCOMPARE(CarbonKeyboardShortcuts::keyToCharacter(Key::q.rawValue), QStringLiteral("q"));
        QCOMPARE(CarbonKeyboardShortcuts::keyToCharacter(Key::quote.rawValue), QStringLiteral("'"));
        QCOMPARE(CarbonKeyboardShortcuts::keyToCharacter(Key::space.rawValue), std::nullopt);
        QCOMPARE(CarbonKeyboardShortcuts::keyToCharacter(Key::mute.rawValue), std::nullopt);
        QCOMPARE(Shortcut(Key::a.rawValue, command | shift).description(), QStringLiteral("⇧⌘A"));
        QCOMPARE(Shortcut(Key::slash.rawValue, control).description(), QStringLiteral("⌃/"));

        // GNOME's window-manager bindings, defaults included: Alt+Tab and Alt+F4 among them.
        const QList<Shortcut> reserved = systemShortcuts();
        QVERIFY(reserved.contains(Shortcut(Key::tab.rawValue, option)));
        QVERIFY(reserved.contains(Shortcut(Key::f4.rawValue, option)));
        QVERIFY(!reserved.contains(Shortcut(Key::space.rawValue, control | option)));
    }
};

QTEST_MAIN(TestGlobalHotkeyX11)
#include "tst_globalhotkey_x11.moc"
