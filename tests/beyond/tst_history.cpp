// test-labels: beyond
// test-services: desktop
// The dictation history and what is done with it: the store over real files (kept only while
// allowed, owner-only, surviving damaged and hostile files), the 历史 tab and the tray entry pasting
// into a real text field of another program through the real injection, the settings rows for the
// history, copy only and the shortcut mode, and the murlex program end to end: murlex --paste-last,
// copy only, and the history across a restart.
#include "Artifacts.h"
#include "EndToEndRig.h"
#include "ExternalTool.h"
#include "HelperProcess.h"
#include "MurlexProcess.h"
#include "PipeSource.h"
#include "app/AppState.h"
#include "app/HistoryPaster.h"
#include "core/AppIdentity.h"
#include "platform/Platform.h"
#include "store/DictationHistory.h"
#include "store/DictationPreferences.h"
#include "store/HotWordsStore.h"
#include "ui/FirstRunFlag.h"
#include "ui/HistoryTab.h"
#include "ui/LoginItemController.h"
#include "ui/MainWindow.h"
#include "ui/MainWindowView.h"
#include "ui/MenuBarController.h"
#include "ui/PermissionChecker.h"
#include "ui/RecordingOverlayView.h"
#include "ui/ResultOptionsRow.h"
#include "ui/ShortcutModeRow.h"
#include "ui/SettingsTab.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QLineEdit>
#include <QStyle>
#include <QSettings>
#include <QStyleFactory>
#include <QTemporaryDir>
#include <QtTest>

#include <sys/stat.h>

using namespace std::chrono_literals;

namespace {
const QString label = QStringLiteral("beyond");

// The file's permission bits as the file system has them.
int modeOf(const QString &path)
{
    struct stat info {};
    if (::lstat(QFile::encodeName(path).constData(), &info) != 0)
        return -1;
    return int(info.st_mode & 07777);
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
    return "{\"text\":\"" + text.toUtf8() + "\",\"time\":\"2026-12-01T08:30:00.000Z\",\"length\":1,\"delivery\":\""
        + delivery + "\"}";
}
} // namespace

class TestHistory : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;
    QString path(const QString &name) const { return m_dir.filePath(name); }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY2(QGuiApplication::platformName() == QStringLiteral("xcb"), "run the tests through scripts/harness.sh");
        QVERIFY(m_dir.isValid());
        AppIdentity::install();
        QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
    }

    // Fifty texts, newest first, always in memory; on disk (owner-only, from its creation) only while
    // allowed, back after a restart then and only then, gone the moment the option is turned off.
    void theHistoryKeepsFiftyAndItsFileOnlyWhileAllowed()
    {
        QSettings settings(path(QStringLiteral("keep.ini")), QSettings::IniFormat);
        DictationPreferences preferences(settings);
        const QString file = path(QStringLiteral("data/quillfen.MurlexMac/dictation-history.json"));
        DictationHistory history(preferences, file);
        QSignalSpy changes(&history, &DictationHistory::changed);
        for (int i = 1; i <= 55; ++i)
            history.record(QStringLiteral("第%1条").arg(i), i % 5 == 0 ? DictationHistory::Delivery::failed
                                                                     : DictationHistory::Delivery::pasted);
        history.record(QString(), DictationHistory::Delivery::pasted); // nothing to keep
        QCOMPARE(changes.size(), 55);
        QCOMPARE(history.entries().size(), 50);
        QCOMPARE(history.newest()->text, QStringLiteral("第55条"));
        QCOMPARE(history.entries().last().text, QStringLiteral("第6条"));
        QCOMPARE(history.newest()->delivery, DictationHistory::Delivery::failed);
        history.record(QStringLiteral("好👍🏽"), DictationHistory::Delivery::copied);
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
        history.record(QStringLiteral("再来一条"), DictationHistory::Delivery::pasted);
        QCOMPARE(modeOf(file), 0600);
        history.clear();
        QVERIFY(DictationHistory(preferences, file).isEmpty());
        history.record(QStringLiteral("最后一条"), DictationHistory::Delivery::pasted);

        preferences.setSaveHistory(false);
        QVERIFY(!QFileInfo::exists(file));
        QCOMPARE(textsOf(history), QStringList{QStringLiteral("最后一条")}); // memory keeps it for this run
        history.record(QStringLiteral("不落盘"), DictationHistory::Delivery::pasted);
        QVERIFY(!QFileInfo::exists(file));
    }

    // Whatever lies at the path, reading it neither crashes, hangs nor reads without bound; what
    // reads as entries is kept (at most fifty), the rest skipped, and the next write is sound.
    void damagedAndHostileFilesAreSurvived()
    {
        QSettings settings(path(QStringLiteral("hostile.ini")), QSettings::IniFormat);
        DictationPreferences preferences(settings);
        preferences.setSaveHistory(true);
        const QString file = path(QStringLiteral("hostile/dictation-history.json"));
        QVERIFY(QDir().mkpath(QFileInfo(file).absolutePath()));

        QByteArray many = "{\"entries\":[";
        for (int i = 0; i < 5000; ++i)
            many += entryJson(QString::number(i)) + ',';
        many.chop(1);
        many += "]}";
        const QByteArray mixed = "{\"entries\":[" + entryJson(QStringLiteral("一")) + ",17,{\"text\":5},"
            + entryJson(QStringLiteral("二"), "teleported") + ",{\"text\":\"三\",\"time\":\"yesterday\",\"delivery\":\"pasted\"},"
            + entryJson(QString(DictationHistory::maxFileTextLength + 1, u'长')) + "," + entryJson(QStringLiteral("四"), "copied")
            + ",{\"text\":\"\",\"time\":\"2026-12-01T08:30:00.000Z\",\"delivery\":\"pasted\"}]}";
        const struct {
            const char *what;
            QByteArray bytes;
            QStringList kept;
        } cases[] = {
            {"binary", QByteArray("\x00\xff\xfe garbage", 12), {}},
            {"cut short", "{\"entries\":[" + entryJson(QStringLiteral("一")).left(20), {}},
            {"not an object", "[" + entryJson(QStringLiteral("一")) + "]", {}},
            {"entries not a list", "{\"entries\":{\"text\":\"一\"}}", {}},
            {"nested without end", QByteArray(200000, '[') + QByteArray(200000, ']'), {}},
            {"too large", "{\"entries\":[" + entryJson(QStringLiteral("一")) + "]}" + QByteArray(DictationHistory::maxFileSize, ' '), {}},
            {"mixed", mixed, {QStringLiteral("一"), QStringLiteral("四")}},
        };
        for (const auto &c : cases) {
            QVERIFY(writeFile(file, c.bytes));
            QElapsedTimer timer;
            timer.start();
            DictationHistory history(preferences, file);
            QVERIFY2(timer.elapsed() < 5000, c.what);
            QVERIFY2(textsOf(history) == c.kept, c.what);
            history.record(QStringLiteral("新"), DictationHistory::Delivery::pasted);
            QVERIFY2(modeOf(file) == 0600, c.what);
            QVERIFY2(textsOf(DictationHistory(preferences, file)) == QStringList{QStringLiteral("新")} + c.kept, c.what);
        }
        QVERIFY(writeFile(file, many));
        QStringList newest;
        for (int i = 0; i < DictationHistory::capacity; ++i)
            newest << QString::number(i);
        QCOMPARE(textsOf(DictationHistory(preferences, file)), newest);

        // A pipe would block the read, a link could point anywhere: neither is read, and the next
        // write puts a file of its own in their place (the link's target left alone).
        QFile::remove(file);
        QCOMPARE(::mkfifo(QFile::encodeName(file).constData(), 0600), 0);
        {
            DictationHistory history(preferences, file);
            QVERIFY(history.isEmpty());
            history.record(QStringLiteral("管道之后"), DictationHistory::Delivery::pasted);
            QCOMPARE(modeOf(file), 0600);
        }
        const QString elsewhere = path(QStringLiteral("elsewhere.json"));
        QVERIFY(writeFile(elsewhere, "{\"entries\":[" + entryJson(QStringLiteral("别处")) + "]}"));
        QFile::remove(file);
        QVERIFY(QFile::link(elsewhere, file));
        DictationHistory linked(preferences, file);
        QVERIFY(linked.isEmpty());
        linked.record(QStringLiteral("链接之后"), DictationHistory::Delivery::pasted);
        QVERIFY(!QFileInfo(file).isSymLink());
        QCOMPARE(modeOf(file), 0600);
        QVERIFY(QFileInfo(elsewhere).size() > 0);
        QCOMPARE(textsOf(DictationHistory(preferences, elsewhere)), QStringList{QStringLiteral("别处")});
    }

    // The murlex program: --paste-last without a running Murlex says so; with it, it pastes the
    // newest text into the focused field, clipboard restored; copy only leaves the dictated text on
    // the clipboard with no key sent; with the history allowed, a restarted Murlex pastes it still.
    void pasteLastAndCopyOnlyInTheRunningApplication()
    {
        QProcessEnvironment lonely = QProcessEnvironment::systemEnvironment();
        const auto notRunning = MurlexProcess::runShipped({QStringLiteral("--paste-last")}, lonely);
        QVERIFY(notRunning);
        QCOMPARE(notRunning->exitCode, 1);
        QVERIFY2(notRunning->output.contains(QStringLiteral(
                     "Murlex is not running: start it first, then murlex --paste-last pastes the last dictated text again.")),
                 qPrintable(notRunning->output));

        EndToEndRig rig;
        // Copy only and the history on disk, as a person would have switched them on before.
        {
            QSettings settings(rig.appEnvironment().value(QStringLiteral("XDG_CONFIG_HOME")) + QStringLiteral("/quillfen/MurlexMac.conf"),
                               QSettings::IniFormat);
            settings.setValue(QLatin1String(DictationPreferences::copyOnlyKey), true);
            settings.setValue(QLatin1String(DictationPreferences::saveHistoryKey), true);
        }
        QVERIFY2(rig.start({QStringLiteral("Murlex"), QStringLiteral("Qt")}), qPrintable(rig.failure()));
        const auto empty = MurlexProcess::runShipped({QStringLiteral("--paste-last")}, rig.appEnvironment());
        QVERIFY(empty && empty->exitCode == 0);
        QVERIFY(rig.app().waitForCount(QStringLiteral("paste last: the history is empty"), 1));

        // Copy only: the text reaches the clipboard, not the field; no key is sent.
        const auto log = [&rig] { return rig.app().lines().mid(rig.app().lines().size() - 40).join(u'\n').toUtf8(); };
        QVERIFY(EndToEndRig::pressShortcut());
        QVERIFY2(rig.app().waitForCount(QStringLiteral("capture started"), 1), log().constData());
        PipeSource::play(PipeSource::tone(440.0, 1.5));
        QVERIFY(EndToEndRig::pressShortcut());
        QVERIFY2(rig.app().waitForCount(QStringLiteral("to the clipboard"), 1), log().constData());
        const QString done = rig.app().linesContaining(QStringLiteral("polish_done in ")).value(0);
        const QString polished = done.mid(done.indexOf(QStringLiteral(": "), done.indexOf(QStringLiteral("polish_done in "))) + 2);
        QVERIFY2(polished.startsWith(QStringLiteral("Duration ")), qPrintable(polished));
        QTRY_COMPARE(EndToEndRig::clipboardNow(), std::optional(polished));
        QTest::qWait(500); // a restore would have come by now
        QCOMPARE(EndToEndRig::clipboardNow(), std::optional(polished));
        QCOMPARE(rig.fieldText(), QString());
        QCOMPARE(rig.target().linesStartingWith(QStringLiteral("key ")), QStringList());
        QCOMPARE(rig.app().count(QStringLiteral("injected ")), 0);

        // --paste-last pastes it (the clipboard swapped and restored as for a dictation).
        const auto pasted = MurlexProcess::runShipped({QStringLiteral("--paste-last")}, rig.appEnvironment());
        QVERIFY(pasted && pasted->exitCode == 0);
        QTRY_COMPARE_WITH_TIMEOUT(rig.fieldText(), polished, 10000);
        QTRY_COMPARE(EndToEndRig::clipboardNow(), std::optional(polished));

        // After a restart the history is still there (the file the owner's alone).
        const QString file = rig.appEnvironment().value(QStringLiteral("XDG_DATA_HOME"))
            + QStringLiteral("/quillfen.MurlexMac/dictation-history.json");
        QCOMPARE(modeOf(file), 0600);
        QCOMPARE(rig.app().terminate(), std::optional(0));
        MurlexProcess again({}, rig.appEnvironment());
        QVERIFY(again.waitForCount(QStringLiteral("hotkey registered"), 1));
        QVERIFY(rig.focusField());
        const auto afterRestart = MurlexProcess::runShipped({QStringLiteral("--paste-last")}, rig.appEnvironment());
        QVERIFY(afterRestart && afterRestart->exitCode == 0);
        QTRY_COMPARE_WITH_TIMEOUT(rig.fieldText(), polished + polished, 10000);
    }

    // (After the program's own run: the settings' shortcut recorder registers the shortcut in this
    // process, and the program could not take it then.)
    // The 历史 tab and the tray entry against a real field in another program: 复制 puts the text on the
    // clipboard, 再次粘贴 steps aside and pastes into the field that had the focus, 删除 and 全部清除
    // empty the list down to its empty state; the tray's entry pastes the newest text.
    void theHistoryTabAndTheTrayPasteIntoTheFieldThatHadTheFocus()
    {
        QCOMPARE(HistoryPaster::Timing{}.focusWait, 1500ms); // long enough for a window manager's hand-over
        AppState::Options options;
        options.settingsPath = path(QStringLiteral("ui.ini"));
        options.historyPath = path(QStringLiteral("ui-history.json"));
        AppState state(options);
        QSettings storeSettings(path(QStringLiteral("hotwords.ini")), QSettings::IniFormat);
        const std::unique_ptr<HotWordsStore> store = HotWordsStore::create(storeSettings);
        FirstRunFlag firstRun(path(QStringLiteral("ui.ini")));
        firstRun.setCompletedOnboarding(true);
        MainWindowServices services;
        services.state = &state;
        services.loginItem = &state.loginItem();
        services.permissions = &state.permissions();
        services.hotWords = store.get();
        services.firstRun = &firstRun;

        HelperProcess field(QStringLiteral("injection_target"));
        const std::optional<QString> fieldWindow = field.waitForLine(QStringLiteral("window "));
        QVERIFY(fieldWindow);
        QVERIFY(ExternalTool::xdotool({QStringLiteral("windowactivate"), QStringLiteral("--sync"), *fieldWindow}));
        QVERIFY(field.waitForLine(QStringLiteral("active")));

        // The tray entry waits for a first text.
        MenuBarController menuBar(state);
        QAction *pasteLast = nullptr;
        const auto findPasteLast = [&] {
            pasteLast = nullptr;
            for (QAction *action : menuBar.menu()->actions())
                if (action->text() == QStringLiteral("粘贴上一次结果"))
                    pasteLast = action;
            return pasteLast;
        };
        QVERIFY(findPasteLast() && !pasteLast->isEnabled());
        state.history().record(QStringLiteral("第一段:会议改到周三下午三点。"), DictationHistory::Delivery::pasted);
        state.history().record(QStringLiteral("第二段 with English & 标点!"), DictationHistory::Delivery::copied);
        state.history().record(QStringLiteral("第三段,最新的一条。"), DictationHistory::Delivery::failed);
        QVERIFY(findPasteLast() && pasteLast->isEnabled());
        pasteLast->trigger();
        QTRY_COMPARE_WITH_TIMEOUT(EndToEndRig::fieldTextOf(field), QStringLiteral("第三段,最新的一条。"), 5000);

        MainWindow window(services);
        window.move(60, 20);
        window.open();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        window.view()->select(MainTab::history);
        HistoryTab &tab = *window.view()->historyTab();
        QCOMPARE(tab.shownTexts(), QStringList({QStringLiteral("第三段,最新的一条。"), QStringLiteral("第二段 with English & 标点!"),
                                                QStringLiteral("第一段:会议改到周三下午三点。")}));
        QVERIFY(tab.emptyLabel()->isHidden());
        QTRY_VERIFY(window.isActiveWindow());
        QTest::qWait(200);
        QVERIFY(!Artifacts::save(label, QStringLiteral("history-light"), Artifacts::grabWindow(&window)).isEmpty());
        QApplication::setPalette(Artifacts::darkPalette());
        QTest::qWait(200);
        QVERIFY(!Artifacts::save(label, QStringLiteral("history-dark"), Artifacts::grabWindow(&window)).isEmpty());
        QApplication::setPalette(QApplication::style()->standardPalette());

        QVERIFY(ExternalTool::click(tab.actionButton(1, QStringLiteral("copy"))));
        QTRY_COMPARE(EndToEndRig::clipboardNow(), std::optional(QStringLiteral("第二段 with English & 标点!")));
        QVERIFY(tab.notice()->isVisible());

        const int keysBefore = int(field.linesStartingWith(QStringLiteral("key ")).size());
        QVERIFY(ExternalTool::click(tab.actionButton(2, QStringLiteral("pasteAgain"))));
        QTRY_COMPARE_WITH_TIMEOUT(EndToEndRig::fieldTextOf(field), QStringLiteral("第三段,最新的一条。第一段:会议改到周三下午三点。"), 5000);
        QCOMPARE(field.linesStartingWith(QStringLiteral("key ")).size(), keysBefore + 1); // the one paste chord
        QVERIFY(window.isMinimized());
        // The clipboard comes back as the copy left it.
        QTRY_COMPARE(EndToEndRig::clipboardNow(), std::optional(QStringLiteral("第二段 with English & 标点!")));

        window.open();
        QTRY_VERIFY(!window.isMinimized() && window.isActiveWindow());
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QTest::qWait(300); // the window manager places it again
        QVERIFY(ExternalTool::click(tab.actionButton(0, QStringLiteral("delete"))));
        QTRY_COMPARE(tab.shownTexts().size(), 2);
        QCOMPARE(state.history().newest()->text, QStringLiteral("第二段 with English & 标点!"));
        QVERIFY(ExternalTool::click(tab.clearButton()));
        QTRY_VERIFY(tab.shownTexts().isEmpty());
        QVERIFY(tab.emptyLabel()->isVisible() && !tab.clearButton()->isEnabled());
        QTRY_VERIFY(findPasteLast() && !pasteLast->isEnabled());

        // The settings rows switch the options, and follow them.
        window.view()->select(MainTab::settings);
        auto *row = window.view()->settingsTab()->findChild<ResultOptionsRow *>();
        QVERIFY(row && !row->saveHistorySwitch()->isChecked() && !row->copyOnlySwitch()->isChecked());
        QVERIFY(ExternalTool::click(row->saveHistorySwitch(), QPoint(8, row->saveHistorySwitch()->height() / 2)));
        QTRY_VERIFY(state.preferences().saveHistory());
        QCOMPARE(modeOf(options.historyPath), 0600);
        state.preferences().setCopyOnly(true);
        QVERIFY(row->copyOnlySwitch()->isChecked());
        // With copy only the capsule's end state says the text was copied.
        RecordingOverlayView capsule(state);
        state.setPhase(Phase::injecting());
        Q_EMIT state.textDelivered(TextInjection::Outcome::copiedOnly);
        QCOMPARE(capsule.text(), QStringLiteral("已复制"));
        state.setPhase(Phase::idle());
        QVERIFY(ExternalTool::click(row->saveHistorySwitch(), QPoint(8, row->saveHistorySwitch()->height() / 2)));
        QTRY_VERIFY(!QFileInfo::exists(options.historyPath));

        // The shortcut mode's choice is stored and read back by the next start (the default writes
        // nothing), and a change made elsewhere shows without being written back a second time.
        auto *modeRow = window.view()->settingsTab()->findChild<ShortcutModeRow *>();
        QVERIFY(modeRow && modeRow->choice()->currentIndex() == 0);
        const auto storedMode = [&] {
            return QSettings(options.settingsPath, QSettings::IniFormat).value(QLatin1String(DictationPreferences::shortcutModeKey));
        };
        QVERIFY(!storedMode().isValid());
        QSignalSpy modeChanges(&state.preferences(), &DictationPreferences::shortcutModeChanged);
        const QString toggleCaption = modeRow->caption()->text();
        modeRow->choice()->setFocus();
        QTest::keyClick(modeRow->choice(), Qt::Key_Down); // the person picks the second entry
        QCOMPARE(modeChanges.size(), 1);
        QCOMPARE(state.preferences().shortcutMode(), DictationPreferences::ShortcutMode::hold);
        QVERIFY(modeRow->caption()->text() != toggleCaption); // the caption explains the chosen mode
        QCOMPARE(storedMode().toString(), QStringLiteral("hold"));
        {
            QSettings reread(options.settingsPath, QSettings::IniFormat);
            DictationPreferences next(reread);
            QCOMPARE(ShortcutModeRow(next).choice()->currentIndex(), 1);
        }
        state.preferences().setShortcutMode(DictationPreferences::ShortcutMode::toggle);
        QCOMPARE(modeRow->choice()->currentIndex(), 0);
        QCOMPARE(modeChanges.size(), 2);
    }

    // When no other window takes the focus from ours, nothing is typed into our own window: the
    // text is left on the clipboard and the person told so.
    void pasteAgainWithoutAnotherWindowLeavesTheTextOnTheClipboard()
    {
        AppState::Options options;
        options.settingsPath = path(QStringLiteral("alone.ini"));
        options.historyPath = path(QStringLiteral("alone-history.json"));
        options.historyPasteTiming.focusWait = 300ms;
        AppState state(options);
        QLineEdit own;
        own.show();
        own.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&own));

        QElapsedTimer waited;
        waited.start();
        const bool pasted = QCoro::waitFor(state.historyPaster().pasteIntoPreviousWindow(QStringLiteral("留在剪贴板上")));
        QVERIFY(!pasted);
        QVERIFY(waited.elapsed() >= 300);
        QCOMPARE(state.phase(), Phase::error(HistoryPaster::copiedInsteadMessage()));
        QTRY_COMPARE(EndToEndRig::clipboardNow(), std::optional(QStringLiteral("留在剪贴板上")));
        QTest::qWait(300); // no restore follows
        QCOMPARE(EndToEndRig::clipboardNow(), std::optional(QStringLiteral("留在剪贴板上")));
        QCOMPARE(own.text(), QString());
    }
};

QTEST_MAIN(TestHistory)
#include "tst_history.moc"
