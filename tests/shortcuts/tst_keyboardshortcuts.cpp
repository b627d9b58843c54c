// test-labels: shortcuts
// The shortcuts library and the dictation hot key on the harness's X server: the stored form and
// defaults, names sharing a hot key and the global switch, event streams, the hot key with lock
// keys, while our menu is open or held by another client, descriptions and the menu search.
// Presses come from xdotool; whether this process holds a key is asked by trying to grab it from
// another client.
#include "core/AppIdentity.h"
#include "ExternalTool.h"
#include "HelperProcess.h"
#include "LogCapture.h"
#include "shortcuts/CarbonKeyboardShortcuts.h"
#include "shortcuts/GlobalHotkey.h"
#include "shortcuts/KeyboardShortcuts.h"
#include "shortcuts/ModifierFlags.h"

#include <QKeyEvent>
#include <QLineEdit>
#include <QMenu>
#include <QSettings>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTemporaryFile>
#include <QtTest>

#include <algorithm>
#include <cstdio>
#include <unistd.h>

using namespace KeyboardShortcuts;
using Flags = ModifierFlags;

namespace {
constexpr qint64 control = ModifierFlags::controlKey;
constexpr qint64 option = ModifierFlags::optionKey;
constexpr qint64 shift = ModifierFlags::shiftKey;
constexpr qint64 command = ModifierFlags::cmdKey;

QString settingsKey(const QString &raw)
{
    return QStringLiteral("KeyboardShortcuts_") + raw;
}

// The key's X name and the holder's names of the modifiers.
QStringList xNames(const Shortcut &s)
{
    const QMap<qint64, QString> keys = {{Key::d.rawValue, QStringLiteral("d")}, {Key::e.rawValue, QStringLiteral("e")},
                                        {Key::h.rawValue, QStringLiteral("h")}, {Key::j.rawValue, QStringLiteral("j")}};
    QStringList names{keys.value(s.carbonKeyCode)};
    for (const auto &[flag, name] : {std::pair{control, "control"}, {option, "alt"}, {shift, "shift"}, {command, "super"}})
        if (s.carbonModifiers & flag)
            names << QLatin1String(name);
    return names;
}

// Presses and releases the shortcut on the X server.
bool press(const Shortcut &s)
{
    QStringList names = xNames(s);
    std::rotate(names.begin(), names.begin() + 1, names.end()); // modifiers first
    names.replaceInStrings(QStringLiteral("control"), QStringLiteral("ctrl"));
    return ExternalTool::xdotool({QStringLiteral("key"), names.join(u'+')});
}

// Presses the shortcut and makes sure nothing of this process reacts.
bool pressUnheard(const Shortcut &s, const std::function<int()> &reactions)
{
    const int before = reactions();
    return press(s) && (QTest::qWait(300), reactions() == before);
}

// Whether this process holds the shortcut's key on the X server: another client's grab is refused.
bool heldHere(const Shortcut &s)
{
    HelperProcess holder(QStringLiteral("hotkey_holder"), xNames(s));
    const bool refused = holder.waitForLine(QString()) == std::optional(QStringLiteral("refused"));
    holder.process().closeWriteChannel();
    holder.process().waitForFinished(5000);
    QTest::qWait(100); // the server lets go of a grab when it notices the holder has gone
    return refused;
}

// Sends what the process writes to standard output (where a refused hot key is reported) into a
// temporary file while alive.
class StdoutCapture {
public:
    StdoutCapture()
    {
        std::fflush(stdout);
        m_file.open();
        m_saved = ::dup(STDOUT_FILENO);
        ::dup2(m_file.handle(), STDOUT_FILENO);
    }
    ~StdoutCapture()
    {
        std::fflush(stdout);
        ::dup2(m_saved, STDOUT_FILENO);
        ::close(m_saved);
    }
    QString text() const
    {
        std::fflush(stdout);
        QFile written(m_file.fileName());
        return written.open(QIODevice::ReadOnly) ? QString::fromUtf8(written.readAll()) : QString();
    }

private:
    QTemporaryFile m_file;
    int m_saved = -1;
};

// Records the keys of the presses a widget receives.
class KeyRecorder : public QObject {
public:
    QList<int> keys;
    bool eventFilter(QObject *, QEvent *event) override
    {
        if (event->type() == QEvent::KeyPress)
            keys.append(static_cast<QKeyEvent *>(event)->key());
        return false;
    }
};
} // namespace

class TestKeyboardShortcuts : public QObject {
    Q_OBJECT

    QTemporaryDir m_settingsDir;
    std::unique_ptr<GlobalHotkey> m_hotkey;
    int m_triggers = 0;
    int m_releases = 0;

    // Presses the dictation shortcut once and waits for its trigger; then makes sure no second
    // trigger follows.
    bool pressOnce()
    {
        const int before = m_triggers;
        if (!ExternalTool::xdotool({QStringLiteral("key"), QStringLiteral("ctrl+alt+space")}))
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
        // The name's first use writes its default.
        QCOMPARE(GlobalHotkey::toggleDictation().shortcut(), Shortcut(Key::space.rawValue, control | option));
        QCOMPARE(QSettings().value(QStringLiteral("KeyboardShortcuts_toggleDictation")).toString(),
                 QStringLiteral(R"({"carbonKeyCode":49,"carbonModifiers":6144})"));
    }

    // Every case starts with the dictation hot key registered as the application does at launch.
    void init()
    {
        LogCapture log;
        reset({GlobalHotkey::toggleDictation()});
        m_hotkey = std::make_unique<GlobalHotkey>();
        m_hotkey->onTrigger = [this] { ++m_triggers; };
        m_hotkey->registerHotkey();
        onKeyUp(GlobalHotkey::toggleDictation(), [this] { ++m_releases; });
        QVERIFY(log.contains(QStringLiteral("hotkey"), QtInfoMsg, QStringLiteral("hotkey registered: ⌃⌥空格")));
        QVERIFY(isEnabled(GlobalHotkey::toggleDictation()));
    }

    void cleanup()
    {
        m_hotkey.reset();
        removeAllHandlers();
        setEnabled(true);
        setRecorderActive(false);
        // Every stored shortcut leaves the library's registered set and the X server.
        QList<Name> names;
        QSettings settings;
        for (const QString &key : settings.allKeys())
            names.append(Name(key.mid(QStringLiteral("KeyboardShortcuts_").size())));
        disable(names);
        settings.clear();
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
        QVERIFY(heldHere(fallback));
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
        QVERIFY(!heldHere(fallback));
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
        QVERIFY(press(shared)); // one hot key serves both names
        QTRY_COMPARE(secondUp, 1);
        QCOMPARE(firstDown, 1);
        QCOMPARE(secondDown, 1);

        // Moving one name releases the shared hot key: the other stays silent until enabled again.
        setShortcut(other, first);
        QVERIFY(!isEnabled(second));
        QVERIFY(!heldHere(shared));
        QVERIFY(press(other));
        QTRY_COMPARE(firstDown, 2);
        QCOMPARE(secondDown, 1);
        enable({second});
        QVERIFY(isEnabled(second));
        QVERIFY(press(shared));
        QTRY_COMPARE(secondDown, 2);

        // Disable keeps the handlers: enabling brings the shortcut back.
        disable({second});
        QVERIFY(pressUnheard(shared, [&] { return secondDown; }));
        enable({second});
        QVERIFY(press(shared));
        QTRY_COMPARE(secondDown, 3);

        // The global switch parks every hot key and restores them.
        setEnabled(false);
        QVERIFY(!isEnabled(second));
        QVERIFY(!heldHere(shared));
        QVERIFY(pressUnheard(shared, [&] { return secondDown; }));
        setEnabled(true);
        QVERIFY(heldHere(shared));

        // Dropping one name's handlers leaves a hot key another name's handlers still use.
        setShortcut(shared, first);
        removeHandler(first);
        QVERIFY(press(shared));
        QTRY_COMPARE(secondDown, 4);
        QCOMPARE(firstDown, 2);
    }

    void eventStreamsHoldTheirShortcutWhileTheyLive()
    {
        const Name name(QStringLiteral("stream"));
        const Shortcut s(Key::e.rawValue, control | option);
        setShortcut(s, name);
        disable({name});
        auto stream = events(name);
        QSignalSpy spy(stream.get(), &EventStream::eventOccurred);
        QVERIFY(press(s));
        QTRY_COMPARE(spy.size(), 2);
        QCOMPARE(spy[0][0].value<EventType>(), EventType::keyDown);
        QCOMPARE(spy[1][0].value<EventType>(), EventType::keyUp);

        // A second stream keeps it alive when the first ends; the last one releases it.
        auto second = events(name);
        stream.reset();
        QVERIFY(heldHere(s));
        second.reset();
        QVERIFY(!heldHere(s));

        // A name with handlers keeps it too; removeHandler keeps it for a live stream.
        onKeyDown(name, [] {});
        auto third = events(name);
        third.reset();
        QVERIFY(heldHere(s));
        auto fourth = events(name);
        removeHandler(name);
        QVERIFY(heldHere(s));
    }

    // Glyphs in their fixed order, whatever the order of the bits (the marks of keys without a
    // character: the refused registrations below); only the five modifiers survive the conversions.
    void descriptionsConversionsAndTheMenuSearch()
    {
        const quint64 all = Flags::function | Flags::command | Flags::shift | Flags::option | Flags::control;
        QCOMPARE(Shortcut::fromKey(Key::a, all).description(), QStringLiteral("⌃⌥⇧⌘\U0001F310\uFE0EA"));
        QCOMPARE(ModifierFlags::toCarbon(0x40000 | 0x80000 | 0x20000 | 0x100000 | 0x800000 | 0x10000 | 0x200000),
                 qint64(0x1000 | 0x800 | 0x200 | 0x100 | 0x20000));
        QCOMPARE(ModifierFlags::fromQt(Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier | Qt::KeypadModifier),
                 quint64(Flags::control | Flags::option | Flags::command));

        // The menu search finds items by their key equivalent.
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

        QCOMPARE(menuItemUsing(Shortcut::fromKey(Key::q, Flags::control)), nullptr);
        watchMenu(&menu);
        QCOMPARE(menuItemUsing(Shortcut::fromKey(Key::f5, 0)), refresh);
    }

    // Once per press, also with Caps Lock or Num Lock on, and never into our own focused field,
    // which the keyboard reaches otherwise; also while our menu is open.
    void firesOncePerPress()
    {
        QLineEdit field;
        KeyRecorder recorder;
        field.installEventFilter(&recorder);
        field.show();
        QVERIFY(QTest::qWaitForWindowExposed(&field));
        QVERIFY(ExternalTool::xdotool({QStringLiteral("windowfocus"), QStringLiteral("--sync"), QString::number(field.winId())}));
        QTRY_VERIFY(field.hasFocus());

        const int releases = m_releases;
        QVERIFY(pressOnce());
        for (const QString &lock : {QStringLiteral("Caps_Lock"), QStringLiteral("Num_Lock")}) {
            QVERIFY(ExternalTool::xdotool({QStringLiteral("key"), lock}));
            const bool fired = pressOnce();
            QVERIFY(ExternalTool::xdotool({QStringLiteral("key"), lock}));
            QVERIFY2(fired, qPrintable(lock));
        }
        QTRY_COMPARE(m_releases, releases + 3);
        QVERIFY(ExternalTool::xdotool({QStringLiteral("key"), QStringLiteral("a")}));
        QTRY_COMPARE(field.text(), QStringLiteral("a"));
        QVERIFY2(!recorder.keys.contains(Qt::Key_Space), qPrintable(QString::number(recorder.keys.size())));

        QMenu menu;
        menu.addAction(QStringLiteral("打开主窗口"));
        watchMenu(&menu);
        menu.popup(QPoint(100, 100));
        QVERIFY(QTest::qWaitForWindowExposed(&menu));
        QVERIFY(CarbonKeyboardShortcuts::isMenuOpen());
        QVERIFY(pressOnce());
        QTRY_COMPARE(m_releases, releases + 4);
        // Held on while the menu has the keyboard, the repeats fire nothing more.
        const int triggers = m_triggers;
        QVERIFY(ExternalTool::xdotool({QStringLiteral("keydown"), QStringLiteral("ctrl+alt+space")}));
        QTest::qWait(1200); // past the server's auto-repeat delay
        QVERIFY(ExternalTool::xdotool({QStringLiteral("keyup"), QStringLiteral("ctrl+alt+space")}));
        QTRY_COMPARE(m_releases, releases + 5);
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
            setShortcut(Shortcut(0x1'0000'0000LL, 0), name); // beyond the platform's range of key codes
            QVERIFY2(out.text().contains(QStringLiteral("Error registering hotkey \U0001F310\uFE0EA: -1\n")),
                     qPrintable(out.text()));
            QVERIFY2(out.text().contains(QStringLiteral("Error registering hotkey ⌃\uFFFD: -1\n")), qPrintable(out.text()));
            QVERIFY2(out.text().contains(QStringLiteral("Error registering hotkey \uFFFD: -1\n")), qPrintable(out.text()));
        }
        setShortcut(std::nullopt, name);
        holder.process().closeWriteChannel();
        QVERIFY(holder.process().waitForFinished(5000));
        QCOMPARE(holder.process().exitCode(), 0);
    }
};

QTEST_MAIN(TestKeyboardShortcuts)

#include "tst_keyboardshortcuts.moc"
