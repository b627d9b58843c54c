// test-labels: recorder
// test-services: desktop
// The shortcut recorder on the harness's X server under its window manager: keys and clicks through
// xdotool, the X bell counted through XKB, the desktop's bindings set with gsettings, another
// program's grab held by a helper process.
#include "Artifacts.h"
#include "ExternalTool.h"
#include "HelperProcess.h"
#include "core/AppIdentity.h"
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
#include <QSettings>
#include <QTemporaryDir>
#include <QtTest>

#define explicit explicit_
#include <xcb/xkb.h>
#undef explicit

using namespace KeyboardShortcuts;
using namespace Qt::StringLiterals;
using Changes = QList<std::optional<Shortcut>>;

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
    int count() // drains the events that came so far
    {
        while (xcb_generic_event_t *event = xcb_poll_for_event(m_connection)) {
            m_count += (event->response_type & 0x7F) == m_eventBase && reinterpret_cast<quint8 *>(event)[1] == XCB_XKB_BELL_NOTIFY;
            free(event);
        }
        return m_count;
    }

private:
    xcb_connection_t *m_connection;
    quint8 m_eventBase = 0;
    int m_count = 0;
};

bool press(const QString &chord) { return ExternalTool::xdotool({u"key"_s, chord}); }
bool activate(const QWidget *window) { return ExternalTool::xdotool({u"windowactivate"_s, u"--sync"_s, QString::number(window->winId())}); }
bool bindInDesktop(const QString &key, const QString &accelerator)
{
    return ExternalTool::run(u"gsettings"_s, {u"set"_s, u"org.gnome.desktop.wm.keybindings"_s, key, u"['%1']"_s.arg(accelerator)}).has_value();
}
void screenshot(const QString &name, const QWidget *widget)
{
    QTest::qWait(150);
    QVERIFY(!Artifacts::save(u"recorder"_s, name, Artifacts::grabWindow(widget)).isEmpty());
}
} // namespace

class TestRecorder : public QObject {
    Q_OBJECT

    QTemporaryDir m_settingsDir;
    int m_triggers = 0;
    QWidget *m_window = nullptr;
    Recorder *m_recorder = nullptr;
    QLineEdit *m_other = nullptr;
    QLabel *m_label = nullptr;
    Changes m_changes;
    BellCounter m_bells;

    bool startRecording()
    {
        return ExternalTool::click(m_recorder) && QTest::qWaitFor([this] { return m_recorder->isRecording(); }, 5000);
    }
    QMessageBox *alert()
    {
        QTest::qWaitFor([this] { return m_recorder->alert() && QTest::qWaitForWindowExposed(m_recorder->alert()); }, 5000);
        return m_recorder->alert();
    }
    bool answerAlert(const char *textKey)
    {
        const auto buttons = alert() ? alert()->buttons() : QList<QAbstractButton *>();
        for (QAbstractButton *button : buttons)
            if (button->text() == LocalizedTexts::text(textKey))
                return ExternalTool::click(button) && QTest::qWaitFor([&] { return !m_recorder->alert() && m_window->isActiveWindow(); }, 5000);
        return false;
    }

private Q_SLOTS:
    void initTestCase()
    {
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, m_settingsDir.path());
        AppIdentity::install();
        auto *hotkey = new GlobalHotkey(this);
        hotkey->onTrigger = [this] { ++m_triggers; };
        hotkey->registerHotkey();

        m_window = new QWidget;
        m_window->setWindowTitle(u"设置"_s);
        auto *form = new QFormLayout(m_window);
        m_recorder = new Recorder(GlobalHotkey::toggleDictation(), [this](const std::optional<Shortcut> &s) { m_changes.append(s); });
        m_other = new QLineEdit;
        m_label = new QLabel(u"按下快捷键开始或结束听写。"_s);
        form->addRow(u"听写快捷键"_s, m_recorder);
        form->addRow(u"备注"_s, m_other);
        form->addRow(m_label);
        m_window->move(200, 200);
        m_window->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_window) && activate(m_window));
        QTRY_VERIFY(m_window->isActiveWindow());
    }

    void cleanupTestCase() { delete m_window; }

    void cleanup()
    {
        if (m_recorder->alert())
            m_recorder->alert()->reject();
        if (m_recorder->isRecording())
            QVERIFY(press(u"Escape"_s));
        QTRY_VERIFY(!m_recorder->isRecording() && !m_recorder->alert());
        setShortcut(dictationDefault, GlobalHotkey::toggleDictation());
        m_changes.clear();
    }

    // An action showing the shortcut follows it, and lets go of it while recording.
    void recordsOnlyWhenTheUserMovesIntoTheField()
    {
        QCOMPARE(m_recorder->text(), u"⌃⌥空格"_s);
        QAction action;
        new GlobalKeyboardShortcutViewModifier(&action, GlobalHotkey::toggleDictation());
        QCOMPARE(action.shortcut(), QKeySequence(Qt::CTRL | Qt::ALT | Qt::Key_Space));
        screenshot(u"holding-shortcut"_s, m_window);

        // Activation gives the field the focus back, but does not record.
        QWidget elsewhere;
        elsewhere.setGeometry(900, 700, 200, 100);
        elsewhere.show();
        QVERIFY(activate(&elsewhere));
        QTRY_VERIFY(elsewhere.isActiveWindow());
        QVERIFY(activate(m_window));
        QTRY_VERIFY(m_recorder->hasFocus());
        QTest::qWait(200);
        QVERIFY(!m_recorder->isRecording() && !isPaused());

        QSignalSpy active(notifications(), &Notifications::recorderActiveStatusDidChange);
        QVERIFY(startRecording());
        QVERIFY(isPaused() && action.shortcut().isEmpty());
        QCOMPARE(m_recorder->placeholderText(), LocalizedTexts::text("press_shortcut"));
        QVERIFY(press(u"Escape"_s)); // ends without a change
        QTRY_VERIFY(!m_recorder->isRecording());
        QCOMPARE(action.shortcut(), QKeySequence(Qt::CTRL | Qt::ALT | Qt::Key_Space));
        QVERIFY(!isPaused() && m_window->isVisible());
        QCOMPARE(m_recorder->placeholderText(), LocalizedTexts::text("record_shortcut"));

        // Tab in records, Tab out ends and moves on; a click outside the field or another active
        // window ends it as well.
        QVERIFY(ExternalTool::click(m_other));
        QTRY_VERIFY(m_other->hasFocus());
        QVERIFY(press(u"Tab"_s));
        QTRY_VERIFY(m_recorder->isRecording());
        QVERIFY(press(u"Tab"_s));
        QTRY_VERIFY(m_other->hasFocus() && !m_recorder->isRecording());
        QVERIFY(startRecording());
        QVERIFY(ExternalTool::click(m_label));
        QTRY_VERIFY(!m_recorder->isRecording());
        QVERIFY(startRecording());
        QVERIFY(activate(&elsewhere));
        QTRY_VERIFY(!m_recorder->isRecording() && !isPaused());
        QVERIFY(activate(m_window));
        QTRY_VERIFY(m_window->isActiveWindow());

        QCOMPARE(active.size(), 8);
        for (int i = 0; i < active.size(); ++i)
            QCOMPARE(active.at(i).at(0).toBool(), i % 2 == 0);
        QCOMPARE(GlobalHotkey::currentShortcut(), dictationDefault);
        QVERIFY(m_changes.isEmpty());
        setShortcut(Shortcut(Key::q.rawValue, control | ModifierFlags::shiftKey), GlobalHotkey::toggleDictation());
        QCOMPARE(action.shortcut(), QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Q));
    }

    void recordsClearsAndBeeps()
    {
        // The current dictation shortcut is recorded again (the recorder holds the keyboard), not run.
        int triggers = m_triggers;
        QVERIFY(startRecording());
        QVERIFY(press(u"ctrl+alt+space"_s));
        QTRY_COMPARE(m_changes, Changes{dictationDefault});
        QTest::qWait(300);
        QCOMPARE(m_triggers, triggers);
        QVERIFY(press(u"ctrl+alt+space"_s)); // the hot key outlived its recording
        QTRY_COMPARE(m_triggers, triggers + 1);

        // Without Control, Alt or Super only function keys are taken; F12 even when the desktop binds it.
        QVERIFY(bindInDesktop(u"show-desktop"_s, u"F12"_s));
        QTRY_VERIFY(systemShortcuts().contains(Shortcut(Key::f12.rawValue, 0)));
        QVERIFY(startRecording());
        const int bells = m_bells.count();
        QVERIFY(press(u"a"_s));
        QVERIFY(press(u"shift+a"_s));
        QTRY_COMPARE(m_bells.count(), bells + 2); // the Shift press itself does not beep
        QVERIFY(m_recorder->isRecording());
        QVERIFY(press(u"F12"_s));
        QTRY_VERIFY(!m_recorder->isRecording());
        QCOMPARE(m_changes.last(), Shortcut(Key::f12.rawValue, 0));
        QCOMPARE(m_recorder->text(), u"F12"_s);
        QVERIFY(!m_recorder->alert());

        QVERIFY(startRecording());
        QVERIFY(press(u"F5"_s));
        QTRY_COMPARE(GlobalHotkey::currentShortcut(), Shortcut(Key::f5.rawValue, 0));
        QCOMPARE(m_bells.count(), bells + 2);
        triggers = m_triggers;
        QVERIFY(press(u"F5"_s)); // live at once
        QTRY_COMPARE(m_triggers, triggers + 1);

        // Delete clears and recording goes on; so does the clear button.
        m_changes.clear();
        QVERIFY(startRecording());
        QVERIFY(press(u"Delete"_s));
        QTRY_COMPARE(m_changes, Changes{std::nullopt});
        QVERIFY(m_recorder->isRecording() && !m_recorder->clearAction()->isVisible());
        screenshot(u"recording"_s, m_window);
        QVERIFY(press(u"ctrl+alt+space"_s));
        QTRY_COMPARE(GlobalHotkey::currentShortcut(), dictationDefault);
        QVERIFY(m_recorder->clearAction()->isVisible());
        const auto associated = m_recorder->clearAction()->associatedObjects();
        const auto clearButton = std::find_if(associated.cbegin(), associated.cend(), [this](QObject *o) { return o->isWidgetType() && o != m_recorder; });
        QVERIFY(clearButton != associated.cend() && ExternalTool::click(static_cast<QWidget *>(*clearButton)));
        QTRY_COMPARE(GlobalHotkey::currentShortcut(), std::nullopt);
        QVERIFY(m_recorder->isRecording());
        QVERIFY(press(u"Escape"_s));
        QTRY_VERIFY(!m_recorder->isRecording());
        screenshot(u"idle"_s, m_window);
        QCOMPARE(m_changes.size(), 3);
    }

    void refusalsAreExplainedAndStoreNothing()
    {
        QMenu menu;
        menu.addAction(u"退出 MurlexMac"_s)->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));
        watchMenu(&menu);
        QVERIFY(bindInDesktop(u"raise"_s, u"<Control><Alt>j"_s));
        QTRY_VERIFY(systemShortcuts().contains(Shortcut(Key::j.rawValue, control | option)));
        HelperProcess holder(u"hotkey_holder"_s, {u"k"_s, u"control"_s, u"alt"_s});
        QVERIFY(holder.waitForLine(u"holding"_s));

        const QString usedBySystem = LocalizedTexts::text("keyboard_shortcut_used_by_system");
        const struct {
            QString chord, text, shot;
            qsizetype buttons;
        } cases[] = {
            {u"ctrl+q"_s, LocalizedTexts::text("keyboard_shortcut_used_by_menu_item").arg(u"退出 MurlexMac"_s),
             u"alert-menu-item"_s, 1},
            {u"ctrl+alt+j"_s, usedBySystem, u"alert-system"_s, 2},
            {u"ctrl+alt+k"_s, usedBySystem, u"alert-held-elsewhere"_s, 1},
        };
        QVERIFY(startRecording());
        for (const auto &c : cases) {
            QVERIFY(press(c.chord));
            QVERIFY2(alert(), qPrintable(c.chord));
            QCOMPARE(alert()->text(), c.text);
            QCOMPARE(alert()->buttons().size(), c.buttons);
            QCOMPARE(alert()->windowModality(), Qt::WindowModal);
            QCOMPARE(alert()->parentWidget(), m_window);
            QVERIFY(!m_recorder->isRecording());
            screenshot(c.shot, alert());
            QVERIFY(answerAlert("ok"));
            QTRY_VERIFY(m_recorder->isRecording());
        }
        QCOMPARE(GlobalHotkey::currentShortcut(), dictationDefault);
        QVERIFY(m_changes.isEmpty());

        // The desktop's binding is taken when the user insists.
        QVERIFY(press(u"ctrl+alt+j"_s));
        QVERIFY(answerAlert("force_use_shortcut"));
        QTRY_COMPARE(m_changes, Changes{Shortcut(Key::j.rawValue, control | option)});
        QVERIFY(!m_recorder->isRecording());
        QCOMPARE(GlobalHotkey::currentShortcut(), m_changes.last());
    }
};

QTEST_MAIN(TestRecorder)
#include "tst_recorder.moc"
