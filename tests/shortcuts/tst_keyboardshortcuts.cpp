// test-labels: shortcuts
// The shortcuts library's logic without a display server: a fake desktop takes the hot keys.
#include "core/AppIdentity.h"
#include "FakeHotKeyService.h"
#include "LogCapture.h"
#include "StdoutCapture.h"
#include "shortcuts/CarbonKeyboardShortcuts.h"
#include "shortcuts/GlobalHotkey.h"
#include "shortcuts/KeyboardShortcuts.h"
#include "shortcuts/ModifierFlags.h"

#include <QApplication>
#include <QKeyEvent>
#include <QMenu>
#include <QSettings>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

using namespace KeyboardShortcuts;
using Flags = ModifierFlags;

namespace {
constexpr qint64 control = ModifierFlags::controlKey;
constexpr qint64 option = ModifierFlags::optionKey;
constexpr qint64 shift = ModifierFlags::shiftKey;
constexpr qint64 command = ModifierFlags::cmdKey;

HotKeyService::KeyCombo combo(const Shortcut &s)
{
    return {s.carbonKeyCode, s.carbonModifiers};
}

QString settingsKey(const QString &raw)
{
    return QStringLiteral("KeyboardShortcuts_") + raw;
}
} // namespace

class TestKeyboardShortcuts : public QObject {
    Q_OBJECT

    QTemporaryDir m_settingsDir;
    FakeHotKeyService *m_desktop = nullptr;

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(m_settingsDir.isValid());
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, m_settingsDir.path());
        AppIdentity::install();
        m_desktop = new FakeHotKeyService(this);
        CarbonKeyboardShortcuts::setService(m_desktop);
    }

    void cleanup()
    {
        removeAllHandlers();
        setEnabled(true);
        setRecorderActive(false);
        // Every stored shortcut leaves the library's registered set and the desktop.
        QList<Name> names;
        QSettings settings;
        for (const QString &key : settings.allKeys())
            names.append(Name(key.mid(QStringLiteral("KeyboardShortcuts_").size())));
        disable(names);
        settings.clear();
        QCOMPARE(m_desktop->registered().size(), 0);
    }

    // Must stay the first test: it sees the process's first registrations.
    void identifiersStartAtOneAndAreNeverReused()
    {
        const Name name(QStringLiteral("ids"));
        setShortcut(Shortcut(Key::k.rawValue, control), name);
        setShortcut(std::nullopt, name);
        setShortcut(Shortcut(Key::k.rawValue, control), name);
        QCOMPARE(m_desktop->history.size(), 2);
        QCOMPARE(m_desktop->history[0].id, 1u);
        QCOMPARE(m_desktop->history[1].id, 2u);
    }

    void storedFormRoundTripsAndRejectsMalformedValues()
    {
        const Shortcut dictation = Shortcut::fromKey(Key::space, Flags::control | Flags::option);
        QCOMPARE(dictation, Shortcut(0x31, 6144));
        QCOMPARE(dictation.toJson(), QByteArray(R"({"carbonKeyCode":49,"carbonModifiers":6144})"));
        QCOMPARE(Shortcut::fromJson(Shortcut(0x7A, 0).toJson()), Shortcut(0x7A, 0));
        QCOMPARE(Shortcut::fromJson(QByteArray(R"({"carbonModifiers":256,"other":"x","carbonKeyCode":0})")),
                 Shortcut(0, 256));
        QCOMPARE(Shortcut::fromJson(R"({"carbonKeyCode":49.0,"carbonModifiers":0})"), Shortcut(49, 0));
        for (const char *bad : {R"({"carbonKeyCode":49})", R"({"carbonKeyCode":49.5,"carbonModifiers":0})",
                                R"({"carbonKeyCode":"49","carbonModifiers":0})", R"({"carbonKeyCode":null,"carbonModifiers":0})",
                                R"({"carbonKeyCode":true,"carbonModifiers":0})", R"({"carbonKeyCode":1e300,"carbonModifiers":0})",
                                R"([49,6144])", "false", "", "{"})
            QVERIFY2(!Shortcut::fromJson(bad), bad);

        // Through the settings store: a value that is not a decodable text reads as none and is kept.
        const Name name(QStringLiteral("malformed"));
        QSettings settings;
        for (const QVariant &stored : {QVariant(QStringLiteral("not json")), QVariant(false), QVariant(42),
                                       QVariant(QStringList{QString::fromUtf8(dictation.toJson())})}) {
            settings.setValue(settingsKey(name.rawValue), stored);
            QVERIFY(!getShortcut(name));
            QCOMPARE(settings.value(settingsKey(name.rawValue)), stored);
        }
        settings.setValue(settingsKey(name.rawValue), QString::fromUtf8(dictation.toJson()));
        QCOMPARE(name.shortcut(), dictation);
    }

    void defaultIsWrittenOnlyIntoAnEmptyKeyAndAClearIsRemembered()
    {
        const Shortcut fallback(Key::d.rawValue, control | option);
        QSettings settings;

        // Empty key: the default is stored and live at once.
        const Name fresh(QStringLiteral("fresh"), fallback);
        QCOMPARE(settings.value(settingsKey(QStringLiteral("fresh"))).toString(),
                 QString::fromUtf8(fallback.toJson()));
        QVERIFY(m_desktop->isRegistered(combo(fallback)));
        QVERIFY(isEnabled(fresh));

        // Any value already there, even one that reads as no shortcut, keeps the default out.
        const Shortcut mine(Key::m.rawValue, command);
        settings.setValue(settingsKey(QStringLiteral("chosen")), QString::fromUtf8(mine.toJson()));
        settings.setValue(settingsKey(QStringLiteral("odd")), 7);
        QCOMPARE(Name(QStringLiteral("chosen"), fallback).shortcut(), mine);
        QVERIFY(!Name(QStringLiteral("odd"), fallback).shortcut());
        QCOMPARE(settings.value(settingsKey(QStringLiteral("odd"))).toInt(), 7);

        // Clearing a name with a default stores false, which survives the next start.
        QSignalSpy changed(notifications(), &Notifications::shortcutByNameDidChange);
        setShortcut(std::nullopt, fresh);
        QCOMPARE(changed.size(), 1);
        QCOMPARE(changed[0][0].value<Name>().rawValue, QStringLiteral("fresh"));
        QVERIFY(settings.contains(settingsKey(QStringLiteral("fresh"))));
        QCOMPARE(settings.value(settingsKey(QStringLiteral("fresh"))).toBool(), false);
        QVERIFY(!m_desktop->isRegistered(combo(fallback)));
        const Name restarted(QStringLiteral("fresh"), fallback);
        QVERIFY(!restarted.shortcut());
        QVERIFY(!isEnabled(restarted));

        // Clearing a name without a default removes its key; clearing nothing posts nothing.
        const Name plain(QStringLiteral("plain"));
        setShortcut(mine, plain);
        setShortcut(std::nullopt, plain);
        QVERIFY(!settings.contains(settingsKey(QStringLiteral("plain"))));
        changed.clear();
        setShortcut(std::nullopt, plain);
        QCOMPARE(changed.size(), 0);

        // Reset brings a default back and clears a name without one; resetAll finds both by prefix.
        setShortcut(mine, plain);
        resetAll();
        QCOMPARE(fresh.shortcut(), fallback);
        QVERIFY(!plain.shortcut());
        QVERIFY(!settings.contains(settingsKey(QStringLiteral("plain"))));
    }

    void namesSharingAShortcutAllFireUntilOneMovesAway()
    {
        const Name first(QStringLiteral("first")), second(QStringLiteral("second"));
        const Shortcut shared(Key::j.rawValue, control | shift), other(Key::h.rawValue, control | shift);
        setShortcut(shared, first);
        setShortcut(shared, second);
        int firstDown = 0, secondDown = 0, secondUp = 0;
        onKeyDown(first, [&] { ++firstDown; });
        onKeyDown(second, [&] { ++secondDown; });
        onKeyUp(second, [&] { ++secondUp; });
        QCOMPARE(m_desktop->press(combo(shared)), 1); // one hot key serves both names
        m_desktop->release(combo(shared));
        QCOMPARE(firstDown, 1);
        QCOMPARE(secondDown, 1);
        QCOMPARE(secondUp, 1);

        // Moving one name releases the shared hot key: the other stays silent until enabled again.
        setShortcut(other, first);
        QVERIFY(!m_desktop->isRegistered(combo(shared)));
        QVERIFY(!isEnabled(second));
        QCOMPARE(m_desktop->press(combo(shared)), 0);
        m_desktop->press(combo(other));
        QCOMPARE(firstDown, 2);
        QCOMPARE(secondDown, 1);
        enable({second});
        QVERIFY(isEnabled(second));
        m_desktop->press(combo(shared));
        QCOMPARE(secondDown, 2);

        // Disable keeps the handlers: enabling brings the shortcut back.
        disable({second});
        QVERIFY(!m_desktop->isRegistered(combo(shared)));
        enable({second});
        m_desktop->press(combo(shared));
        QCOMPARE(secondDown, 3);

        // Dropping one name's handlers leaves a hot key another name's handlers still use.
        setShortcut(shared, first);
        removeHandler(first);
        QVERIFY(m_desktop->isRegistered(combo(shared)));
        m_desktop->press(combo(shared));
        QCOMPARE(firstDown, 2);
        QCOMPARE(secondDown, 4);
    }

    // A recorder pauses dispatch; the global switch parks the hot keys and restores them.
    void dispatchPausesWhileRecordingAndTheSwitchParksHotKeys()
    {
        const Name name(QStringLiteral("paused"));
        const Shortcut s(Key::p.rawValue, control);
        setShortcut(s, name);
        int presses = 0;
        onKeyDown(name, [&] { ++presses; });
        QSignalSpy active(notifications(), &Notifications::recorderActiveStatusDidChange);
        setRecorderActive(true);
        QVERIFY(isPaused());
        m_desktop->press(combo(s));
        QCOMPARE(presses, 0);
        setRecorderActive(false);
        m_desktop->press(combo(s));
        QCOMPARE(presses, 1);
        QCOMPARE(active.size(), 2);
        QCOMPARE(active[0][0].toBool(), true);
        QCOMPARE(active[1][0].toBool(), false);

        setEnabled(false);
        QVERIFY(!m_desktop->isRegistered(combo(s)));
        QVERIFY(!isEnabled(name));
        setEnabled(true);
        QVERIFY(m_desktop->isRegistered(combo(s)));
        m_desktop->press(combo(s));
        QCOMPARE(presses, 2);
    }

    // (A key the desktop refuses is covered against the X server; this one never reaches it.)
    void shortcutBeyondThePlatformsRangeIsRefused()
    {
        StdoutCapture out;
        setShortcut(Shortcut(0x1'0000'0000LL, 0), Name(QStringLiteral("huge")));
        QVERIFY2(out.text().contains(QStringLiteral("Error registering hotkey \uFFFD: -1\n")), qPrintable(out.text()));
    }

    void eventStreamsHoldTheirShortcutWhileTheyLive()
    {
        const Name name(QStringLiteral("stream"));
        const Shortcut s(Key::e.rawValue, command);
        setShortcut(s, name);
        disable({name});
        auto stream = events(name);
        QVERIFY(m_desktop->isRegistered(combo(s)));
        QSignalSpy spy(stream.get(), &EventStream::eventOccurred);
        m_desktop->press(combo(s));
        m_desktop->release(combo(s));
        QCOMPARE(spy.size(), 2);
        QCOMPARE(spy[0][0].value<EventType>(), EventType::keyDown);
        QCOMPARE(spy[1][0].value<EventType>(), EventType::keyUp);

        // A second stream keeps it alive when the first ends; the last one releases it.
        auto second = events(name);
        stream.reset();
        QVERIFY(m_desktop->isRegistered(combo(s)));
        second.reset();
        QVERIFY(!m_desktop->isRegistered(combo(s)));

        // A name with handlers keeps it too; removeHandler keeps it for a live stream.
        onKeyDown(name, [] {});
        auto third = events(name);
        third.reset();
        QVERIFY(m_desktop->isRegistered(combo(s)));
        auto fourth = events(name);
        removeHandler(name);
        QVERIFY(m_desktop->isRegistered(combo(s)));
    }

    void descriptionPutsModifierGlyphsInTheirFixedOrder()
    {
        const quint64 all = Flags::function | Flags::command | Flags::shift | Flags::option | Flags::control;
        QCOMPARE(Shortcut::fromKey(Key::a, all).description(), QStringLiteral("⌃⌥⇧⌘\U0001F310\uFE0EA"));
        QCOMPARE(Shortcut::fromKey(Key::space, Flags::option | Flags::control).description(), QStringLiteral("⌃⌥空格"));
        QCOMPARE(Shortcut::fromKey(Key::f5, 0).description(), QStringLiteral("F5"));
        QCOMPARE(Shortcut::fromKey(Key::keypad7, Flags::control).description(), QStringLiteral("⌃7\u20E3"));
        QCOMPARE(Shortcut::fromKey(Key::keypadEnter, 0).description(), QStringLiteral("↩\u20E3"));
        QCOMPARE(Shortcut::fromKey(Key::help, 0).description(), QStringLiteral("?\u20DD"));
        // A key with no character in the layout, and carbon bits outside the table.
        QCOMPARE(Shortcut(Key::mute.rawValue, 0x200 | 0x400 | 0x1).description(), QStringLiteral("⇧\uFFFD"));
    }

    void conversionKeepsOnlyTheFiveModifiers()
    {
        QCOMPARE(ModifierFlags::toCarbon(0x40000 | 0x80000 | 0x20000 | 0x100000 | 0x800000 | 0x10000 | 0x200000),
                 qint64(0x1000 | 0x800 | 0x200 | 0x100 | 0x20000));
        QCOMPARE(ModifierFlags::normalizedCarbon(0x1000 | 0x400 | 0x80), qint64(0x1000));
        QCOMPARE(ModifierFlags::fromQt(Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier | Qt::KeypadModifier),
                 quint64(Flags::control | Flags::option | Flags::command));
    }

    void menuSearchFindsItemsByKeyEquivalent()
    {
        QMenu menu, submenu(QStringLiteral("更多"));
        QAction *quit = menu.addAction(QStringLiteral("退出"));
        quit->setShortcut(QKeySequence(QStringLiteral("Ctrl+Q")));
        QAction *shifted = menu.addAction(QStringLiteral("大写"));
        shifted->setShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_U));
        QAction *keypad = menu.addAction(QStringLiteral("数字"));
        keypad->setShortcut(QKeySequence(QKeyCombination(Qt::ControlModifier | Qt::KeypadModifier, Qt::Key_1)));
        menu.addMenu(&submenu);
        QAction *refresh = submenu.addAction(QStringLiteral("刷新"));
        refresh->setShortcut(QKeySequence(Qt::Key_F5));
        QAction *confirm = submenu.addAction(QStringLiteral("确认"));
        confirm->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Return));

        QCOMPARE(matchingMenuItem(Shortcut::fromKey(Key::q, Flags::control), &menu), quit);
        QCOMPARE(matchingMenuItem(Shortcut::fromKey(Key::q, Flags::control | Flags::shift), &menu), nullptr);
        // An upper-case equivalent is shift and the lower-case letter, and needs the shift.
        QCOMPARE(matchingMenuItem(Shortcut::fromKey(Key::u, Flags::control | Flags::shift), &menu), shifted);
        QCOMPARE(matchingMenuItem(Shortcut::fromKey(Key::u, Flags::control), &menu), nullptr);
        // Keypad keys have no key-equivalent text: never a match, even for the same digit.
        QCOMPARE(matchingMenuItem(Shortcut::fromKey(Key::keypad1, Flags::control), &menu), nullptr);
        QCOMPARE(matchingMenuItem(Shortcut::fromKey(Key::one, Flags::control), &menu), keypad);
        // Submenus are searched; special keys compare by their menu text.
        QCOMPARE(matchingMenuItem(Shortcut::fromKey(Key::f5, 0), &menu), refresh);
        QCOMPARE(matchingMenuItem(Shortcut::fromKey(Key::returnKey, Flags::control), &menu), confirm);
        QCOMPARE(matchingMenuItem(Shortcut::fromKey(Key::f5, Flags::command), &menu), nullptr);

        QCOMPARE(menuItemUsing(Shortcut::fromKey(Key::q, Flags::control)), nullptr);
        watchMenu(&menu);
        QCOMPARE(menuItemUsing(Shortcut::fromKey(Key::q, Flags::control)), quit);
        QCOMPARE(menuItemUsing(Shortcut::fromKey(Key::f5, 0)), refresh);
    }

    // (A press on the X server while a menu is open, and the grab coming back, are covered there.)
    void openMenuDeliversThroughItsKeyEventsAndRegistersAgainOnClose()
    {
        const Name name(QStringLiteral("inMenu"));
        const Shortcut s(Key::space.rawValue, control | option);
        setShortcut(s, name);
        int downs = 0, ups = 0;
        onKeyDown(name, [&] { ++downs; });
        onKeyUp(name, [&] { ++ups; });
        QMenu menu;
        menu.addAction(QStringLiteral("一项"));
        watchMenu(&menu);
        menu.popup(QPoint(10, 10));
        QTRY_VERIFY(menu.isVisible());
        QVERIFY(!m_desktop->isRegistered(combo(s)));

        auto key = [&](QEvent::Type type, bool repeat = false) {
            QKeyEvent event(type, Qt::Key_Space, Qt::ControlModifier | Qt::AltModifier, quint32(s.carbonKeyCode), 0,
                            quint32(s.carbonModifiers), QStringLiteral(" "), repeat);
            QCoreApplication::sendEvent(&menu, &event);
            return event.isAccepted();
        };
        key(QEvent::KeyPress);
        key(QEvent::KeyPress, true); // the key repeats while held
        key(QEvent::KeyRelease);
        QCOMPARE(downs, 1);
        QCOMPARE(ups, 1);

        menu.hide();
        QVERIFY(m_desktop->isRegistered(combo(s)));
    }

    // (The default's registration, its log line, its presses and the change signal are covered on
    // the X server and through the application state.)
    void globalHotkeyWritesItsDefaultAndLogsAMissingShortcut()
    {
        LogCapture log;
        GlobalHotkey hotkey;
        hotkey.registerHotkey(); // first use of the name: the settings are empty
        QCOMPARE(QSettings().value(QStringLiteral("KeyboardShortcuts_toggleDictation")).toString(),
                 QStringLiteral(R"({"carbonKeyCode":49,"carbonModifiers":6144})"));

        setShortcut(std::nullopt, GlobalHotkey::toggleDictation());
        GlobalHotkey another;
        another.registerHotkey();
        QVERIFY(log.contains(QStringLiteral("hotkey"), QtInfoMsg, QStringLiteral("hotkey registered: 未设置")));
    }
};

int main(int argc, char *argv[])
{
    // No display server: the offscreen platform is enough for menus and key events.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    TestKeyboardShortcuts test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_keyboardshortcuts.moc"
