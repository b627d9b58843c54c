// test-labels: beyond
// test-services: desktop
// The dictation history: the store over real files (kept only while allowed, owner-only, surviving
// damaged and hostile files), the 历史 tab, the tray entry and the settings rows against a text
// field of another program, and the murlex program end to end (--paste-last, copy only, a restart).
#include "Artifacts.h"
#include "EndToEndRig.h"
#include "ExternalTool.h"
#include "HelperProcess.h"
#include "MurlexProcess.h"
#include "PipeSource.h"
#include "UiServices.h"
#include "app/HistoryPaster.h"
#include "store/DictationHistory.h"
#include "store/DictationPreferences.h"
#include "ui/HistoryTab.h"
#include "ui/MainWindow.h"
#include "ui/MainWindowView.h"
#include "ui/MenuBarController.h"
#include "ui/ResultOptionsRow.h"
#include "ui/SettingsTab.h"
#include "ui/ShortcutModeRow.h"

#include <QCheckBox>
#include <QComboBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QtTest>

#include <sys/stat.h>

using namespace std::chrono_literals;
using namespace Qt::StringLiterals;
using Delivery = DictationHistory::Delivery;

namespace {
// The file's permission bits as the file system has them.
int modeOf(const QString &path)
{
    struct stat info {};
    return ::lstat(QFile::encodeName(path).constData(), &info) == 0 ? int(info.st_mode & 07777) : -1;
}

bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile::remove(path);
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

QStringList textsOf(const DictationHistory &history)
{
    QStringList texts;
    for (const DictationHistory::Entry &entry : history.entries())
        texts << entry.text;
    return texts;
}

QByteArray entryJson(const QString &text, const char *delivery = "pasted")
{
    return "{\"text\":\"" + text.toUtf8() + "\",\"time\":\"2026-12-01T08:30:00.000Z\",\"length\":1,\"delivery\":\"" + delivery + "\"}";
}
} // namespace

class TestHistory : public QObject {
    Q_OBJECT

    UiServices m_ui;
    QString path(const QString &name) const { return m_ui.path(name); }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY2(QGuiApplication::platformName() == u"xcb"_s, "run the tests through scripts/harness.sh");
    }

    // Fifty texts, newest first, always in memory; on disk (owner-only, from its creation) only while
    // allowed, back after a restart then and only then, gone the moment the option is turned off.
    void theHistoryKeepsFiftyAndItsFileOnlyWhileAllowed()
    {
        QSettings settings(path(u"keep.ini"_s), QSettings::IniFormat);
        DictationPreferences preferences(settings);
        const QString file = path(u"data/quillfen.MurlexMac/dictation-history.json"_s);
        DictationHistory history(preferences, file);
        QSignalSpy changes(&history, &DictationHistory::changed);
        for (int i = 1; i <= 55; ++i)
            history.record(u"第%1条"_s.arg(i), i % 5 == 0 ? Delivery::failed : Delivery::pasted);
        history.record(QString(), Delivery::pasted); // nothing to keep
        QCOMPARE(changes.size(), 55);
        QCOMPARE(history.entries().size(), 50);
        QCOMPARE(history.newest()->text, u"第55条"_s);
        QCOMPARE(history.entries().last().text, u"第6条"_s);
        QCOMPARE(history.newest()->delivery, Delivery::failed);
        history.record(u"好👍🏽"_s, Delivery::copied);
        QCOMPARE(history.newest()->length, 2);
        QVERIFY(!QFileInfo::exists(file));
        QVERIFY(DictationHistory(preferences, file).isEmpty()); // a restart forgets it

        preferences.setSaveHistory(true);
        QCOMPARE(modeOf(file), 0600);
        {
            const DictationHistory restarted(preferences, file);
            QCOMPARE(textsOf(restarted), textsOf(history));
            for (qsizetype i = 0; i < history.entries().size(); ++i) {
                const DictationHistory::Entry read = restarted.entries().at(i), kept = history.entries().at(i);
                QVERIFY(read.time == kept.time && read.delivery == kept.delivery && read.length == kept.length);
            }
        }
        QVERIFY(history.remove(history.entries().at(1).id));
        QVERIFY(!history.remove(987654));
        QCOMPARE(DictationHistory(preferences, file).entries().size(), 49);

        // A file someone widened is replaced by an owner-only one before the next write.
        QVERIFY(QFile::setPermissions(file, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadOther));
        history.record(u"再来一条"_s, Delivery::pasted);
        QCOMPARE(modeOf(file), 0600);
        history.clear();
        QVERIFY(DictationHistory(preferences, file).isEmpty());
        history.record(u"最后一条"_s, Delivery::pasted);

        preferences.setSaveHistory(false);
        QVERIFY(!QFileInfo::exists(file));
        QCOMPARE(textsOf(history), QStringList{u"最后一条"_s}); // memory keeps it for this run
        history.record(u"不落盘"_s, Delivery::pasted);
        QVERIFY(!QFileInfo::exists(file));
    }

    // Whatever lies at the path, reading it neither crashes, hangs nor reads without bound; what
    // reads as entries is kept (at most fifty), the rest skipped, and the next write is sound.
    void damagedAndHostileFilesAreSurvived()
    {
        QSettings settings(path(u"hostile.ini"_s), QSettings::IniFormat);
        DictationPreferences preferences(settings);
        preferences.setSaveHistory(true);
        const QString file = path(u"hostile/dictation-history.json"_s);
        QVERIFY(QDir().mkpath(QFileInfo(file).absolutePath()));

        QByteArray many = "{\"entries\":[";
        for (int i = 0; i < 5000; ++i)
            many += entryJson(QString::number(i)) + ',';
        many.back() = ']';
        many += '}';
        const QByteArray mixed = "{\"entries\":[" + entryJson(u"一"_s) + ",17,{\"text\":5}," + entryJson(u"二"_s, "teleported")
            + ",{\"text\":\"三\",\"time\":\"yesterday\",\"delivery\":\"pasted\"}," + entryJson(QString(DictationHistory::maxFileTextLength + 1, u'长'))
            + "," + entryJson(u"四"_s, "copied") + ",{\"text\":\"\",\"time\":\"2026-12-01T08:30:00.000Z\",\"delivery\":\"pasted\"}]}";
        QStringList fifty;
        for (int i = 0; i < DictationHistory::capacity; ++i)
            fifty << QString::number(i);
        const struct {
            const char *what;
            QByteArray bytes;
            QStringList kept;
        } cases[] = {
            {"cut short", "{\"entries\":[" + entryJson(u"一"_s).left(20), {}},
            {"not an object", "[" + entryJson(u"一"_s) + "]", {}},
            {"entries not a list", "{\"entries\":{\"text\":\"一\"}}", {}},
            {"nested without end", QByteArray(200000, '[') + QByteArray(200000, ']'), {}},
            {"too large", "{\"entries\":[" + entryJson(u"一"_s) + "]}" + QByteArray(DictationHistory::maxFileSize, ' '), {}},
            {"mixed", mixed, {u"一"_s, u"四"_s}},
            {"many", many, fifty},
        };
        for (const auto &c : cases) {
            QVERIFY(writeFile(file, c.bytes));
            QElapsedTimer timer;
            timer.start();
            DictationHistory history(preferences, file);
            QVERIFY2(timer.elapsed() < 5000, c.what);
            QVERIFY2(textsOf(history) == c.kept, c.what);
            history.record(u"新"_s, Delivery::pasted);
            QVERIFY2(modeOf(file) == 0600, c.what);
            QVERIFY2(textsOf(DictationHistory(preferences, file)) == (QStringList{u"新"_s} + c.kept).mid(0, DictationHistory::capacity), c.what);
        }

        // A pipe would block the read, a link could point anywhere: neither is read, and the next
        // write puts a file of its own in their place (the link's target left alone).
        QFile::remove(file);
        QCOMPARE(::mkfifo(QFile::encodeName(file).constData(), 0600), 0);
        {
            DictationHistory history(preferences, file);
            QVERIFY(history.isEmpty());
            history.record(u"管道之后"_s, Delivery::pasted);
            QCOMPARE(modeOf(file), 0600);
        }
        const QString elsewhere = path(u"elsewhere.json"_s);
        QVERIFY(writeFile(elsewhere, "{\"entries\":[" + entryJson(u"别处"_s) + "]}"));
        QFile::remove(file);
        QVERIFY(QFile::link(elsewhere, file));
        DictationHistory linked(preferences, file);
        QVERIFY(linked.isEmpty());
        linked.record(u"链接之后"_s, Delivery::pasted);
        QVERIFY(!QFileInfo(file).isSymLink());
        QCOMPARE(modeOf(file), 0600);
        QCOMPARE(textsOf(DictationHistory(preferences, elsewhere)), QStringList{u"别处"_s});
    }

    // The murlex program: --paste-last pastes the newest text into the focused field; copy only
    // leaves the dictated text on the clipboard (the injector's copy itself: tst_x11injection);
    // with the history allowed, a restarted Murlex pastes it still.
    void pasteLastAndCopyOnlyInTheRunningApplication()
    {
        EndToEndRig rig;
        {
            QSettings settings(rig.appEnvironment().value(u"XDG_CONFIG_HOME"_s) + u"/quillfen/MurlexMac.conf"_s, QSettings::IniFormat);
            settings.setValue(QLatin1String(DictationPreferences::copyOnlyKey), true);
            settings.setValue(QLatin1String(DictationPreferences::saveHistoryKey), true);
        }
        QVERIFY2(rig.start({u"Murlex"_s, u"Qt"_s}), qPrintable(rig.failure()));
        const auto pasteLast = [&rig] {
            const auto run = MurlexProcess::runShipped({u"--paste-last"_s}, rig.appEnvironment());
            return run && run->exitCode == 0;
        };
        QVERIFY(pasteLast());
        QVERIFY(rig.app().waitForCount(u"paste last: the history is empty"_s, 1));

        const auto log = [&rig] { return rig.app().lines().mid(rig.app().lines().size() - 40).join(u'\n').toUtf8(); };
        QVERIFY(EndToEndRig::pressShortcut());
        QVERIFY2(rig.app().waitForCount(u"capture started"_s, 1), log().constData());
        PipeSource::play(PipeSource::tone(440.0, 1.5));
        QVERIFY(EndToEndRig::pressShortcut());
        QVERIFY2(rig.app().waitForCount(u"to the clipboard"_s, 1), log().constData());
        const QString done = rig.app().linesContaining(u"polish_done in "_s).value(0);
        const QString polished = done.mid(done.indexOf(u": "_s, done.indexOf(u"polish_done in "_s)) + 2);
        QVERIFY2(polished.startsWith(u"Duration "_s), qPrintable(polished));
        QTRY_COMPARE(EndToEndRig::clipboardNow(), std::optional(polished));
        QCOMPARE(rig.fieldText(), QString());

        QVERIFY(pasteLast());
        QTRY_COMPARE_WITH_TIMEOUT(rig.fieldText(), polished, 10000);

        // After a restart the history is still there (the file the owner's alone).
        QCOMPARE(modeOf(rig.appEnvironment().value(u"XDG_DATA_HOME"_s) + u"/quillfen.MurlexMac/dictation-history.json"_s), 0600);
        QCOMPARE(rig.app().terminate(), std::optional(0));
        MurlexProcess again({}, rig.appEnvironment());
        QVERIFY(again.waitForCount(u"hotkey registered"_s, 1));
        QVERIFY(rig.focusField());
        QVERIFY(pasteLast());
        QTRY_COMPARE_WITH_TIMEOUT(rig.fieldText(), polished + polished, 10000);
    }

    // (After the program's own run, which could not take the shortcut the settings' recorder registers.)
    // The tray entry pastes the newest text into a real field of another program; in the 历史 tab
    // 复制 puts a text on the clipboard, 再次粘贴 steps aside and pastes into the field that had the
    // focus, 删除 and 全部清除 empty the list; the settings rows switch the options and follow them.
    void theHistoryTabAndTheTrayPasteIntoTheFieldThatHadTheFocus()
    {
        QCOMPARE(HistoryPaster::Timing{}.focusWait, 1500ms); // long enough for a window manager's hand-over
        QVERIFY(m_ui.setUp()); // (not before: the program run above found its field without the focus then)
        AppState &state = m_ui.state();
        const QString historyFile = path(u"history.json"_s);
        HelperProcess field(u"injection_target"_s);
        const std::optional<QString> fieldWindow = field.waitForLine(u"window "_s);
        QVERIFY(fieldWindow);
        QVERIFY(ExternalTool::xdotool({u"windowactivate"_s, u"--sync"_s, *fieldWindow}));
        QVERIFY(field.waitForLine(u"active"_s));

        MenuBarController menuBar(state);
        const auto pasteLast = [&menuBar] {
            for (QAction *action : menuBar.menu()->actions())
                if (action->text() == u"粘贴上一次结果"_s)
                    return action;
            return static_cast<QAction *>(nullptr);
        };
        QVERIFY(pasteLast() && !pasteLast()->isEnabled()); // waits for a first text
        const QStringList texts = {u"第一段:会议改到周三下午三点。"_s, u"第二段 with English & 标点!"_s, u"第三段,最新的一条。"_s};
        state.history().record(texts[0], Delivery::pasted);
        state.history().record(texts[1], Delivery::copied);
        state.history().record(texts[2], Delivery::failed);
        QVERIFY(pasteLast()->isEnabled());
        pasteLast()->trigger();
        QTRY_COMPARE_WITH_TIMEOUT(EndToEndRig::fieldTextOf(field), texts[2], 5000);

        m_ui.firstRun().setCompletedOnboarding(true);
        MainWindow window(m_ui.services());
        window.move(60, 20);
        window.open();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        window.view()->select(MainTab::history);
        HistoryTab &tab = *window.view()->historyTab();
        QCOMPARE(tab.shownTexts(), QStringList({texts[2], texts[1], texts[0]}));
        QVERIFY(tab.emptyLabel()->isHidden());
        QTRY_VERIFY(window.isActiveWindow());
        for (const bool dark : {false, true}) {
            QApplication::setPalette(dark ? Artifacts::darkPalette() : QApplication::style()->standardPalette());
            QTest::qWait(200);
            QVERIFY(UiServices::saveShot(u"beyond"_s, dark ? u"history-dark"_s : u"history-light"_s, Artifacts::grabWindow(&window)));
        }
        QApplication::setPalette(QApplication::style()->standardPalette());

        QVERIFY(ExternalTool::click(tab.actionButton(1, u"copy"_s)));
        QTRY_COMPARE(EndToEndRig::clipboardNow(), std::optional(texts[1]));
        QVERIFY(tab.notice()->isVisible());

        const int keysBefore = int(field.linesStartingWith(u"key "_s).size());
        QVERIFY(ExternalTool::click(tab.actionButton(2, u"pasteAgain"_s)));
        QTRY_COMPARE_WITH_TIMEOUT(EndToEndRig::fieldTextOf(field), texts[2] + texts[0], 5000);
        QCOMPARE(field.linesStartingWith(u"key "_s).size(), keysBefore + 1); // the one paste chord
        QVERIFY(window.isMinimized());
        QTRY_COMPARE(EndToEndRig::clipboardNow(), std::optional(texts[1])); // back as the copy left it

        window.open();
        QTRY_VERIFY(!window.isMinimized() && window.isActiveWindow());
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QTest::qWait(300); // the window manager places it again
        QVERIFY(ExternalTool::click(tab.actionButton(0, u"delete"_s)));
        QTRY_COMPARE(tab.shownTexts().size(), 2);
        QCOMPARE(state.history().newest()->text, texts[1]);
        QVERIFY(ExternalTool::click(tab.clearButton()));
        QTRY_VERIFY(tab.shownTexts().isEmpty());
        QVERIFY(tab.emptyLabel()->isVisible() && !tab.clearButton()->isEnabled());
        QTRY_VERIFY(!pasteLast()->isEnabled());

        window.view()->select(MainTab::settings);
        auto *row = window.view()->settingsTab()->findChild<ResultOptionsRow *>();
        QVERIFY(row && !row->saveHistorySwitch()->isChecked() && !row->copyOnlySwitch()->isChecked());
        const auto clickSwitch = [row] { return ExternalTool::click(row->saveHistorySwitch(), QPoint(8, row->saveHistorySwitch()->height() / 2)); };
        QVERIFY(clickSwitch());
        QTRY_VERIFY(state.preferences().saveHistory());
        QCOMPARE(modeOf(historyFile), 0600);
        state.preferences().setCopyOnly(true);
        QVERIFY(row->copyOnlySwitch()->isChecked());
        state.preferences().setCopyOnly(false);
        QVERIFY(clickSwitch());
        QTRY_VERIFY(!QFileInfo::exists(historyFile));

        // The shortcut mode's choice is stored (the default writes nothing; tst_hold_to_talk starts
        // from a stored one), and a change made elsewhere shows without being written back again.
        auto *modeRow = window.view()->settingsTab()->findChild<ShortcutModeRow *>();
        QVERIFY(modeRow && modeRow->choice()->currentIndex() == 0);
        const auto storedMode = [&] { return QSettings(path(u"state.ini"_s), QSettings::IniFormat).value(QLatin1String(DictationPreferences::shortcutModeKey)); };
        QVERIFY(!storedMode().isValid());
        QSignalSpy modeChanges(&state.preferences(), &DictationPreferences::shortcutModeChanged);
        const QString toggleCaption = modeRow->caption()->text();
        modeRow->choice()->setFocus();
        QTest::keyClick(modeRow->choice(), Qt::Key_Down); // the person picks the second entry
        QCOMPARE(modeChanges.size(), 1);
        QCOMPARE(state.preferences().shortcutMode(), DictationPreferences::ShortcutMode::hold);
        QVERIFY(modeRow->caption()->text() != toggleCaption); // the caption explains the chosen mode
        QCOMPARE(storedMode().toString(), u"hold"_s);
        state.preferences().setShortcutMode(DictationPreferences::ShortcutMode::toggle);
        QCOMPARE(modeRow->choice()->currentIndex(), 0);
        QCOMPARE(modeChanges.size(), 2);
    }

    // When no other window takes the focus from ours, nothing is typed into our own window: the
    // text is left on the clipboard and the person told so.
    void pasteAgainWithoutAnotherWindowLeavesTheTextOnTheClipboard()
    {
        AppState::Options options = m_ui.freshState();
        options.historyPath = path(u"alone-history.json"_s);
        options.historyPasteTiming.focusWait = 300ms;
        AppState state(options);
        QLineEdit own;
        own.show();
        own.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&own));

        QElapsedTimer waited;
        waited.start();
        QVERIFY(!QCoro::waitFor(state.historyPaster().pasteIntoPreviousWindow(u"留在剪贴板上"_s)));
        QVERIFY(waited.elapsed() >= 300);
        QCOMPARE(state.phase(), Phase::error(HistoryPaster::copiedInsteadMessage()));
        QTRY_COMPARE(EndToEndRig::clipboardNow(), std::optional(u"留在剪贴板上"_s));
        QTest::qWait(300); // no restore follows
        QCOMPARE(EndToEndRig::clipboardNow(), std::optional(u"留在剪贴板上"_s));
        QCOMPARE(own.text(), QString());
    }
};

QTEST_MAIN(TestHistory)
#include "tst_history.moc"
