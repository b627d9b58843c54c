// test-labels: recorder
// test-services: desktop
// The shortcut recorder on the harness's X server under its window manager: key presses and clicks
// through xdotool, the X bell counted through XKB's bell notifications, the desktop's own bindings
// set with gsettings, another program's grab held by a helper process.
#include "Artifacts.h"
#include "ExternalTool.h"
#include "HelperProcess.h"
#include "shortcuts/GlobalHotkey.h"
#include "shortcuts/GlobalKeyboardShortcutViewModifier.h"
#include "shortcuts/KeyboardShortcuts.h"
#include "shortcuts/LocalizedTexts.h"
#include "shortcuts/ModifierFlags.h"
#include "shortcuts/Recorder.h"

#include <QAbstractButton>
#include <QAction>
#include <QFormLayout>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QSettings>
#include <QTemporaryDir>
#include <QtTest>

#define explicit explicit_
#include <xcb/xkb.h>
#undef explicit

using namespace KeyboardShortcuts;

namespace {
constexpr qint64 control = ModifierFlags::controlKey;
constexpr qint64 option = ModifierFlags::optionKey;
const Shortcut dictationDefault(Key::space.rawValue, control | option);

// Counts the X server's bells: XKB reports each one to every client that asks.
class BellCounter {
public:
    BellCounter() : m_connection(xcb_connect(nullptr, nullptr))
    {
        free(xcb_xkb_use_extension_reply(m_connection, xcb_xkb_use_extension(m_connection, 1, 0), nullptr));
        m_eventBase = xcb_get_extension_data(m_connection, &xcb_xkb_id)->first_event;
        xcb_xkb_select_events(m_connection, XCB_XKB_ID_USE_CORE_KBD, XCB_XKB_EVENT_TYPE_BELL_NOTIFY, 0,
                              XCB_XKB_EVENT_TYPE_BELL_NOTIFY, 0, 0, nullptr);
        xcb_flush(m_connection);
    }
    ~BellCounter() { xcb_disconnect(m_connection); }
    int count()
    {
        while (xcb_generic_event_t *event = xcb_poll_for_event(m_connection)) {
            if ((event->response_type & 0x7F) == m_eventBase
                && reinterpret_cast<const quint8 *>(event)[1] == XCB_XKB_BELL_NOTIFY)
                ++m_count;
            free(event);
        }
        return m_count;
    }

private:
    xcb_connection_t *m_connection;
    quint8 m_eventBase = 0;
    int m_count = 0;
};

bool xdotool(const QStringList &arguments)
{
    return ExternalTool::run(QStringLiteral("xdotool"), arguments).has_value();
}

bool press(const QString &chord)
{
    return xdotool({QStringLiteral("key"), chord});
}

bool clickAt(const QWidget *widget)
{
    // `mousemove --sync` waits for a motion, and there is none when the pointer is there already.
    const QPoint centre = widget->mapToGlobal(widget->rect().center());
    if (QCursor::pos() != centre
        && !xdotool({QStringLiteral("mousemove"), QStringLiteral("--sync"), QString::number(centre.x()), QString::number(centre.y())}))
        return false;
    return xdotool({QStringLiteral("click"), QStringLiteral("1")});
}

bool bindInDesktopSettings(const QString &key, const QString &accelerator)
{
    return ExternalTool::run(QStringLiteral("gsettings"), {QStringLiteral("set"), QStringLiteral("org.gnome.desktop.wm.keybindings"),
                                                           key, QStringLiteral("['%1']").arg(accelerator)})
        .has_value();
}
} // namespace

class TestRecorder : public QObject {
    Q_OBJECT

    QTemporaryDir m_settingsDir;
    GlobalHotkey *m_hotkey = nullptr;
    int m_triggers = 0;
    QWidget *m_window = nullptr;
    Recorder *m_recorder = nullptr;
    QLineEdit *m_other = nullptr;
    QLabel *m_label = nullptr;
    QList<std::optional<Shortcut>> m_changes;
    BellCounter m_bells;

    bool startRecording()
    {
        return clickAt(m_recorder) && QTest::qWaitFor([this] { return m_recorder->isRecording(); }, 5000);
    }

    // The alert's button with the given text, clicked.
    bool answerAlert(const char *textKey)
    {
        QMessageBox *alert = m_recorder->alert();
        if (!alert || !QTest::qWaitForWindowExposed(alert))
            return false;
        const auto buttons = alert->buttons();
        for (QAbstractButton *button : buttons)
            if (button->text() == LocalizedTexts::text(textKey))
                return clickAt(button) && QTest::qWaitFor([&] { return !m_recorder->alert(); }, 5000)
                    && QTest::qWaitFor([&] { return m_window->isActiveWindow(); }, 5000);
        return false;
    }

    QMessageBox *waitForAlert()
    {
        return QTest::qWaitFor([this] { return m_recorder->alert() && m_recorder->alert()->isVisible(); }, 5000)
            ? m_recorder->alert()
            : nullptr;
    }

    void screenshot(const QString &name, const QWidget *widget)
    {
        QTest::qWait(150);
        QVERIFY(!Artifacts::save(QStringLiteral("recorder"), name, Artifacts::grabWindow(widget)).isEmpty());
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(m_settingsDir.isValid());
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, m_settingsDir.path());
        QCoreApplication::setOrganizationName(QStringLiteral("quillfen"));
        QCoreApplication::setApplicationName(QStringLiteral("MurlexMac"));
        m_hotkey = new GlobalHotkey(this);
        m_hotkey->onTrigger = [this] { ++m_triggers; };
        m_hotkey->registerHotkey();

        m_window = new QWidget;
        m_window->setWindowTitle(QStringLiteral("设置"));
        auto *form = new QFormLayout(m_window);
        m_recorder = new Recorder(GlobalHotkey::toggleDictation(),
                                  [this](const std::optional<Shortcut> &s) { m_changes.append(s); });
        m_other = new QLineEdit;
        m_label = new QLabel(QStringLiteral("按下快捷键开始或结束听写。"));
        form->addRow(QStringLiteral("听写快捷键"), m_recorder);
        form->addRow(QStringLiteral("备注"), m_other);
        form->addRow(m_label);
        m_window->move(200, 200);
        m_window->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_window));
        QVERIFY(xdotool({QStringLiteral("windowactivate"), QStringLiteral("--sync"), QString::number(m_window->winId())}));
        QTRY_VERIFY(m_window->isActiveWindow());
    }

    void cleanupTestCase() { delete m_window; }

    void cleanup()
    {
        if (QMessageBox *alert = m_recorder->alert())
            alert->reject();
        QTRY_VERIFY(!m_recorder->alert());
        if (m_recorder->isRecording())
            QVERIFY(press(QStringLiteral("Escape")));
        QTRY_VERIFY(!m_recorder->isRecording());
        setShortcut(dictationDefault, GlobalHotkey::toggleDictation());
        m_changes.clear();
    }

    void recordsOnlyWhenTheUserMovesIntoTheField()
    {
        QCOMPARE(m_recorder->sizeHint().width(), 130);
        QCOMPARE(m_recorder->alignment(), Qt::Alignment(Qt::AlignCenter));
        QCOMPARE(m_recorder->text(), QStringLiteral("⌃⌥空格"));
        QVERIFY(m_recorder->clearAction()->isVisible());
        screenshot(QStringLiteral("holding-shortcut"), m_window);

        // Activation gives the field the focus back, but does not record.
        QWidget elsewhere;
        elsewhere.setGeometry(900, 700, 200, 100);
        elsewhere.show();
        QVERIFY(QTest::qWaitForWindowExposed(&elsewhere));
        QVERIFY(xdotool({QStringLiteral("windowactivate"), QStringLiteral("--sync"), QString::number(elsewhere.winId())}));
        QTRY_VERIFY(elsewhere.isActiveWindow());
        QVERIFY(xdotool({QStringLiteral("windowactivate"), QStringLiteral("--sync"), QString::number(m_window->winId())}));
        QTRY_VERIFY(m_recorder->hasFocus());
        QTest::qWait(200);
        QVERIFY(!m_recorder->isRecording());
        QVERIFY(!isPaused());

        QSignalSpy active(notifications(), &Notifications::recorderActiveStatusDidChange);
        QVERIFY(startRecording());
        QVERIFY(isPaused());
        QCOMPARE(m_recorder->placeholderText(), LocalizedTexts::text("press_shortcut"));
        QCOMPARE(active.size(), 1);
        QCOMPARE(active.last().at(0).toBool(), true);

        // Escape ends it without a change.
        QVERIFY(press(QStringLiteral("Escape")));
        QTRY_VERIFY(!m_recorder->isRecording());
        QVERIFY(!isPaused());
        QCOMPARE(active.last().at(0).toBool(), false);
        QCOMPARE(m_recorder->placeholderText(), LocalizedTexts::text("record_shortcut"));
        QCOMPARE(GlobalHotkey::currentShortcut(), dictationDefault);
        QVERIFY(m_changes.isEmpty());
        QVERIFY(m_window->isVisible());

        // Tab into the field records; Tab out ends and moves on; a click outside the field ends.
        QVERIFY(clickAt(m_other));
        QTRY_VERIFY(m_other->hasFocus());
        QVERIFY(press(QStringLiteral("Tab")));
        QTRY_VERIFY(m_recorder->isRecording());
        QVERIFY(press(QStringLiteral("Tab")));
        QTRY_VERIFY(m_other->hasFocus());
        QVERIFY(!m_recorder->isRecording());
        QVERIFY(startRecording());
        QVERIFY(clickAt(m_label));
        QTRY_VERIFY(!m_recorder->isRecording());

        // Another window taking the activation ends it too.
        QVERIFY(startRecording());
        QVERIFY(xdotool({QStringLiteral("windowactivate"), QStringLiteral("--sync"), QString::number(elsewhere.winId())}));
        QTRY_VERIFY(!m_recorder->isRecording());
        QVERIFY(!isPaused());
        QVERIFY(xdotool({QStringLiteral("windowactivate"), QStringLiteral("--sync"), QString::number(m_window->winId())}));
        QTRY_VERIFY(m_window->isActiveWindow());
        QCOMPARE(active.size(), 8);
    }

    void theDictationShortcutIsPausedWhileRecording()
    {
        const int triggers = m_triggers;
        QVERIFY(press(QStringLiteral("ctrl+alt+space")));
        QTRY_COMPARE(m_triggers, triggers + 1);

        // The recorder holds the keyboard: the press is recorded (as the same shortcut), not run.
        QVERIFY(startRecording());
        QVERIFY(press(QStringLiteral("ctrl+alt+space")));
        QTRY_VERIFY(!m_recorder->isRecording());
        QCOMPARE(m_changes, QList<std::optional<Shortcut>>{dictationDefault});
        QTest::qWait(300);
        QCOMPARE(m_triggers, triggers + 1);
        QCOMPARE(GlobalHotkey::currentShortcut(), dictationDefault);
        QVERIFY(press(QStringLiteral("ctrl+alt+space")));
        QTRY_COMPARE(m_triggers, triggers + 2);
    }

    void plainKeysBeepAndFunctionKeysAreTaken()
    {
        // F12 alone is taken even when the desktop binds it; the desktop's bindings are not asked.
        QVERIFY(bindInDesktopSettings(QStringLiteral("show-desktop"), QStringLiteral("F12")));
        QTRY_VERIFY(systemShortcuts().contains(Shortcut(Key::f12.rawValue, 0)));

        QVERIFY(startRecording());
        const int bells = m_bells.count();
        QVERIFY(press(QStringLiteral("a")));
        QTRY_COMPARE(m_bells.count(), bells + 1);
        QVERIFY(press(QStringLiteral("shift+a")));
        QTRY_COMPARE(m_bells.count(), bells + 2); // the Shift press itself does not beep
        QTest::qWait(200);
        QCOMPARE(m_bells.count(), bells + 2);
        QVERIFY(m_recorder->isRecording());
        QCOMPARE(GlobalHotkey::currentShortcut(), dictationDefault);

        QVERIFY(press(QStringLiteral("F12")));
        QTRY_VERIFY(!m_recorder->isRecording());
        const Shortcut f12(Key::f12.rawValue, 0);
        QCOMPARE(GlobalHotkey::currentShortcut(), f12);
        QCOMPARE(m_changes, QList<std::optional<Shortcut>>{f12});
        QCOMPARE(m_recorder->text(), QStringLiteral("F12"));
        QVERIFY(!m_recorder->alert());

        const Shortcut f5(Key::f5.rawValue, 0);
        QVERIFY(startRecording());
        QVERIFY(press(QStringLiteral("F5")));
        QTRY_COMPARE(GlobalHotkey::currentShortcut(), f5);
        QCOMPARE(m_bells.count(), bells + 2);
        // Stored in the library's form, and live as the dictation hot key at once.
        QSettings file(m_settingsDir.filePath(QStringLiteral("quillfen/MurlexMac.conf")), QSettings::IniFormat);
        QCOMPARE(file.value(QStringLiteral("KeyboardShortcuts_toggleDictation")),
                 QVariant(QStringLiteral(R"({"carbonKeyCode":96,"carbonModifiers":0})")));
        const int triggers = m_triggers;
        QVERIFY(press(QStringLiteral("F5")));
        QTRY_COMPARE(m_triggers, triggers + 1);
    }

    void deleteAndTheClearButtonClearAndKeepRecording()
    {
        QVERIFY(startRecording());
        QVERIFY(press(QStringLiteral("Delete")));
        QTRY_COMPARE(m_changes, QList<std::optional<Shortcut>>{std::nullopt});
        QCOMPARE(GlobalHotkey::currentShortcut(), std::nullopt);
        QCOMPARE(QSettings().value(GlobalHotkey::toggleDictation().settingsKey()), QVariant(false));
        QVERIFY(m_recorder->isRecording());
        QCOMPARE(m_recorder->text(), QString());
        QVERIFY(!m_recorder->clearAction()->isVisible());
        screenshot(QStringLiteral("recording"), m_window);

        // The combination the hot key held a moment ago now reaches the recorder.
        QVERIFY(press(QStringLiteral("ctrl+alt+space")));
        QTRY_COMPARE(GlobalHotkey::currentShortcut(), dictationDefault);
        QVERIFY(!m_recorder->isRecording());
        QVERIFY(m_recorder->clearAction()->isVisible());

        QWidget *clearButton = nullptr;
        const auto widgets = m_recorder->clearAction()->associatedObjects();
        for (QObject *object : widgets)
            if (auto *widget = qobject_cast<QWidget *>(object); widget && widget != m_recorder)
                clearButton = widget;
        QVERIFY(clearButton);
        QVERIFY(clickAt(clearButton));
        QTRY_COMPARE(GlobalHotkey::currentShortcut(), std::nullopt);
        QVERIFY(m_recorder->isRecording());
        QVERIFY(press(QStringLiteral("Escape")));
        QTRY_VERIFY(!m_recorder->isRecording());
        screenshot(QStringLiteral("idle"), m_window);
        QCOMPARE(m_changes.size(), 3);
    }

    void aMenuItemsShortcutIsRefusedNamingTheItem()
    {
        QMenu menu;
        menu.addAction(QStringLiteral("打开主窗口"));
        menu.addAction(QStringLiteral("退出 MurlexMac"))->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));
        watchMenu(&menu);

        QVERIFY(startRecording());
        QVERIFY(press(QStringLiteral("ctrl+q")));
        QMessageBox *alert = waitForAlert();
        QVERIFY(alert);
        QVERIFY(!m_recorder->isRecording());
        QCOMPARE(alert->text(), LocalizedTexts::text("keyboard_shortcut_used_by_menu_item").arg(QStringLiteral("退出 MurlexMac")));
        QCOMPARE(alert->windowModality(), Qt::WindowModal);
        QCOMPARE(alert->parentWidget(), m_window);
        QCOMPARE(alert->buttons().size(), 1);
        screenshot(QStringLiteral("alert-menu-item"), alert);

        QVERIFY(answerAlert("ok"));
        QTRY_VERIFY(m_recorder->isRecording());
        QCOMPARE(GlobalHotkey::currentShortcut(), dictationDefault);
        QVERIFY(m_changes.isEmpty());
    }

    void aDesktopBindingIsUsedOnlyWhenForced()
    {
        const Shortcut bound(Key::j.rawValue, control | option);
        QVERIFY(bindInDesktopSettings(QStringLiteral("raise"), QStringLiteral("<Control><Alt>j")));
        QTRY_VERIFY(systemShortcuts().contains(bound));

        QVERIFY(startRecording());
        QVERIFY(press(QStringLiteral("ctrl+alt+j")));
        QMessageBox *alert = waitForAlert();
        QVERIFY(alert);
        QCOMPARE(alert->text(), LocalizedTexts::text("keyboard_shortcut_used_by_system"));
        QCOMPARE(alert->informativeText(), LocalizedTexts::text("keyboard_shortcuts_can_be_changed"));
        QCOMPARE(alert->buttons().size(), 2);
        screenshot(QStringLiteral("alert-system"), alert);
        QVERIFY(answerAlert("ok"));
        QTRY_VERIFY(m_recorder->isRecording());
        QCOMPARE(GlobalHotkey::currentShortcut(), dictationDefault);

        QVERIFY(press(QStringLiteral("ctrl+alt+j")));
        QVERIFY(waitForAlert());
        QVERIFY(answerAlert("force_use_shortcut"));
        QTRY_COMPARE(GlobalHotkey::currentShortcut(), bound);
        QCOMPARE(m_changes, QList<std::optional<Shortcut>>{bound});
        QVERIFY(!m_recorder->isRecording());
    }

    void aCombinationAnotherProgramHoldsIsRefused()
    {
        HelperProcess holder(QStringLiteral("hotkey_holder"), {QStringLiteral("k"), QStringLiteral("control"), QStringLiteral("alt")});
        QVERIFY(holder.waitForLine(QStringLiteral("holding")));

        QVERIFY(startRecording());
        QVERIFY(press(QStringLiteral("ctrl+alt+k")));
        QMessageBox *alert = waitForAlert();
        QVERIFY(alert);
        QCOMPARE(alert->text(), LocalizedTexts::text("keyboard_shortcut_used_by_system"));
        QCOMPARE(alert->buttons().size(), 1);
        QVERIFY(answerAlert("ok"));
        QTRY_VERIFY(m_recorder->isRecording());
        QCOMPARE(GlobalHotkey::currentShortcut(), dictationDefault);
        QVERIFY(m_changes.isEmpty());
        // Our own hot key survived the trial of another combination.
        QVERIFY(press(QStringLiteral("Escape")));
        QTRY_VERIFY(!m_recorder->isRecording());
        const int triggers = m_triggers;
        QVERIFY(press(QStringLiteral("ctrl+alt+space")));
        QTRY_COMPARE(m_triggers, triggers + 1);
    }

    void anActionFollowsTheNameAndLetsGoWhileRecording()
    {
        QAction action;
        new GlobalKeyboardShortcutViewModifier(&action, GlobalHotkey::toggleDictation());
        QCOMPARE(action.shortcut(), QKeySequence(Qt::CTRL | Qt::ALT | Qt::Key_Space));
        QVERIFY(startRecording());
        QVERIFY(action.shortcut().isEmpty());
        QVERIFY(press(QStringLiteral("Escape")));
        QTRY_VERIFY(!m_recorder->isRecording());
        QCOMPARE(action.shortcut(), QKeySequence(Qt::CTRL | Qt::ALT | Qt::Key_Space));

        setShortcut(Shortcut(Key::q.rawValue, control | ModifierFlags::shiftKey), GlobalHotkey::toggleDictation());
        QCOMPARE(action.shortcut(), QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Q));
        setShortcut(Shortcut(Key::keypad5.rawValue, ModifierFlags::cmdKey), GlobalHotkey::toggleDictation());
        QCOMPARE(action.shortcut(), QKeySequence(QKeyCombination(Qt::MetaModifier | Qt::KeypadModifier, Qt::Key_5)));
        setShortcut(std::nullopt, GlobalHotkey::toggleDictation());
        QVERIFY(action.shortcut().isEmpty());
    }
};

QTEST_MAIN(TestRecorder)
#include "tst_recorder.moc"
