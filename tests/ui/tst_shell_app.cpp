// test-labels: shell
// test-services: desktop
// The application's shell on the harness's X server with a real window manager and a real XEmbed
// tray. In this process: the tray menu's entries follow the state and its items act; the recording
// overlay shows and hides, sits where it should, draws each phase (ending with what the injection
// did), lets clicks through and stays above a full-screen window. Then the application as a person meets it: the murlex program
// (tests/helpers/murlex_e2e, signed in against the stand-in) puts its icon into the tray; a
// dictation started and ended from the tray menu shows the overlay while recording and the check
// once the text is in the focused field of another program (which keeps the focus), then hides
// the overlay; Control+Q in the menu quits cleanly.
#include "Artifacts.h"
#include "EndToEndRig.h"
#include "ExternalTool.h"
#include "FakeAccessTokenProvider.h"
#include "FakeAudioCapture.h"
#include "FakeHotWordsSource.h"
#include "LogCapture.h"
#include "PipeSource.h"
#include "RecordingTextInjection.h"
#include "app/AppState.h"
#include "core/AppIdentity.h"
#include "shortcuts/GlobalHotkey.h"
#include "shortcuts/KeyboardShortcuts.h"
#include "shortcuts/ModifierFlags.h"
#include "ui/MenuBarController.h"
#include "ui/OverlayController.h"
#include "ui/RecordingOverlayPanel.h"
#include "ui/RecordingOverlayView.h"

#include <QElapsedTimer>
#include <QLabel>
#include <QMenu>
#include <QPainter>
#include <QRegularExpression>
#include <QScreen>
#include <QSystemTrayIcon>
#include <QTemporaryDir>
#include <QWidgetAction>
#include <QtTest>

using namespace KeyboardShortcuts;

namespace {
const QString label = QStringLiteral("shell");

// The application's windows on screen now, with their places.
QList<QRect> visibleAppWindows(QStringList *ids = nullptr)
{
    QList<QRect> windows;
    const auto found = ExternalTool::run(QStringLiteral("xdotool"), {QStringLiteral("search"), QStringLiteral("--onlyvisible"),
                                                        QStringLiteral("--classname"), QStringLiteral("^murlex_e2e$")});
    if (!found)
        return windows;
    for (const QByteArray &id : found->trimmed().split('\n')) {
        const auto geometry = ExternalTool::run(QStringLiteral("xdotool"), {QStringLiteral("getwindowgeometry"), QStringLiteral("--shell"),
                                                               QString::fromLatin1(id)});
        if (!geometry)
            continue;
        QMap<QByteArray, int> values;
        for (const QByteArray &line : geometry->split('\n')) {
            const qsizetype equals = line.indexOf('=');
            if (equals > 0)
                values.insert(line.left(equals), line.mid(equals + 1).toInt());
        }
        windows << QRect(values.value("X"), values.value("Y"), values.value("WIDTH"), values.value("HEIGHT"));
        if (ids)
            *ids << QString::fromLatin1(id);
    }
    return windows;
}

// The menu as lines: "-" for a separator, the whole text of a text line, and for an item its title
// with "[off]" when disabled and "[x]"/"[ ]" when checkable.
QStringList entries(const QMenu &menu)
{
    QStringList lines;
    for (const QAction *action : menu.actions()) {
        if (action->isSeparator()) {
            lines << QStringLiteral("-");
        } else if (qobject_cast<const QWidgetAction *>(action)) {
            lines << action->text();
        } else {
            QString line = action->text().replace(QStringLiteral("&&"), QStringLiteral("&"));
            if (action->isCheckable())
                line += action->isChecked() ? QStringLiteral(" [x]") : QStringLiteral(" [ ]");
            if (!action->isEnabled())
                line += QStringLiteral(" [off]");
            lines << line;
        }
    }
    return lines;
}

QAction *item(const QMenu &menu, const QString &title)
{
    for (QAction *action : menu.actions())
        if (action->text() == title)
            return action;
    return nullptr;
}

QRect overlayPlace()
{
    return RecordingOverlayPanel::placement(QGuiApplication::primaryScreen()->availableGeometry());
}

// The view drawn with its transparency kept, and over a background that shows it.
QImage rendered(const RecordingOverlayView &view)
{
    QImage image(view.size(), QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    const_cast<RecordingOverlayView &>(view).render(&image, QPoint(), QRegion(), QWidget::DrawChildren);
    return image;
}

QImage overChequers(const QImage &overlay)
{
    QImage out(overlay.size() + QSize(40, 40), QImage::Format_ARGB32_Premultiplied);
    QPainter painter(&out);
    for (int y = 0; y < out.height(); y += 10)
        for (int x = 0; x < out.width(); x += 10)
            painter.fillRect(x, y, 10, 10, ((x + y) / 10) % 2 ? QColor(0xF2, 0xF2, 0xF2) : QColor(0x3A, 0x7B, 0xD5));
    painter.drawImage(20, 20, overlay);
    return out;
}

// How many pixels of the 14 × 14 indicator box match.
template <typename Match>
int colouredIndicatorPixels(const QImage &image, Match match)
{
    int count = 0;
    for (int y = 21; y < 35; ++y)
        for (int x = 20; x < 34; ++x)
            count += match(image.pixelColor(x, y));
    return count;
}
} // namespace

class TestShellApp : public QObject {
    Q_OBJECT

    EndToEndRig m_rig;
    QRect m_icon;
    QTemporaryDir m_dir;

    AppState::Options options(std::chrono::milliseconds errorResetDelay = AppState::errorDisplayTime) const
    {
        AppState::Options options;
        options.settingsPath = m_dir.filePath(QStringLiteral("settings.ini"));
        options.errorResetDelay = errorResetDelay;
        return options;
    }

    // Opens the menu where the tray icon is (the click itself is the application suite's) and saves
    // what the screen shows.
    void openAndCapture(MenuBarController &menuBar, const QString &name)
    {
        QTRY_VERIFY(menuBar.trayIcon()->geometry().isValid());
        menuBar.menu()->popup(menuBar.trayIcon()->geometry().bottomLeft());
        QVERIFY(QTest::qWaitForWindowExposed(menuBar.menu()));
        QTest::qWait(150);
        const QImage shot = Artifacts::grabScreen(menuBar.menu()->geometry());
        QVERIFY(!Artifacts::save(label, QStringLiteral("menu-") + name, shot).isEmpty());
        QVERIFY2(Artifacts::darkPixels(shot, 100) > 400, qPrintable(QString::number(Artifacts::darkPixels(shot, 100))));
        menuBar.menu()->hide();
    }

    // The view's look in the current phase, saved for people and returned.
    QImage capture(const OverlayController &overlay, const QString &name)
    {
        const QImage image = rendered(*overlay.panel()->view());
        Artifacts::save(label, QStringLiteral("overlay-") + name, overChequers(image));
        return image;
    }

    bool openMenu()
    {
        const QPoint centre = m_icon.center();
        // (No --sync: it would wait for a motion that never comes when the pointer is already there.)
        if (!ExternalTool::xdotool({QStringLiteral("mousemove"), QString::number(centre.x()), QString::number(centre.y()),
                      QStringLiteral("sleep"), QStringLiteral("0.2"), QStringLiteral("click"), QStringLiteral("3")}))
            return false;
        // The menu: a window of the application taller than the overlay (not the icon's tooltip).
        return QTest::qWaitFor([&] { return menuWindow().isValid(); }, 5000);
    }

    static QRect menuWindow()
    {
        for (const QRect &window : visibleAppWindows())
            if (window.height() > 80)
                return window;
        return {};
    }

    // The toggle item is the first one the keyboard reaches.
    bool chooseToggleFromTheMenu()
    {
        return openMenu() && ExternalTool::xdotool({QStringLiteral("key"), QStringLiteral("Down"), QStringLiteral("Return")});
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY2(QGuiApplication::platformName() == QStringLiteral("xcb"), "run the tests through scripts/harness.sh");
        AppIdentity::install();
        QVERIFY(m_dir.isValid());
    }

    void entriesFollowTheState()
    {
        AppState state(options(std::chrono::milliseconds(300)));
        MenuBarController menuBar(state);
        const QMenu &menu = *menuBar.menu();
        const QString toggle = QStringLiteral("开始/结束录音 (未设置) [off]");
        const QStringList tail = {toggle, QStringLiteral("粘贴上一次结果 [off]"), QStringLiteral("调试模式 [ ]"), QStringLiteral("-"), QStringLiteral("打开主窗口"),
                                  QStringLiteral("退出 MurlexMac")};
        QCOMPARE(entries(menu), QStringList({QStringLiteral("未连接"), QStringLiteral("-")}) + tail);
        for (const QAction *action : menu.actions())
            QCOMPARE(action->shortcut(), action->text() == QStringLiteral("退出 MurlexMac") ? QKeySequence(QStringLiteral("Ctrl+Q")) : QKeySequence());

        state.setConnected(true);
        QCOMPARE(entries(menu).first(), QStringLiteral("就绪"));
        state.setPhase(Phase::recording());
        QCOMPARE(entries(menu).first(), QStringLiteral("● 录音中…"));

        // Debug off: no transcript lines or their separators, whatever the texts.
        state.setPhase(Phase::idle());
        state.setPartialText(QStringLiteral("正在说的话"));
        state.setLastInjectedText(QStringLiteral("abc"));
        QCOMPARE(entries(menu), QStringList({QStringLiteral("就绪"), QStringLiteral("-")}) + tail);

        state.setDebugMode(true);
        QStringList debugTail = tail;
        debugTail[2] = QStringLiteral("调试模式 [x]");
        QCOMPARE(entries(menu), QStringList({QStringLiteral("就绪"), QStringLiteral("-"), QStringLiteral("\"正在说的话\""), QStringLiteral("-"),
                                             QStringLiteral("上次注入: abc…"), QStringLiteral("-")}) + debugTail);
        // The last text is cut to 60 characters, never in the middle of one, plus the ellipsis; a long
        // transcript takes two lines.
        const QString sixtieth = QString(59, u'x') + QStringLiteral("👍🏽");
        state.setLastInjectedText(sixtieth + QString(40, u'y'));
        QCOMPARE(entries(menu).at(4), QStringLiteral("上次注入: ") + sixtieth + u'…');
        state.setPartialText(QString(200, u'话'));
        QCOMPARE(entries(menu).at(2), u'"' + QString(200, u'话') + u'"');
        const QString transcript = qobject_cast<QLabel *>(qobject_cast<QWidgetAction *>(menu.actions().at(2))->defaultWidget())->text();
        QCOMPARE(transcript.count(u'\n'), 1);
        QVERIFY2(transcript.startsWith(u'"') && transcript.endsWith(u'…'), qPrintable(transcript));
        state.setPartialText({});
        QCOMPARE(entries(menu).at(2), QStringLiteral("上次注入: ") + sixtieth + u'…');
        state.setDebugMode(false);

        // An error shows with its sign until the state returns to idle by itself.
        state.setError(QStringLiteral("网络连接失败"));
        QCOMPARE(entries(menu).first(), QStringLiteral("⚠ 网络连接失败"));
        QTRY_COMPARE(entries(menu).first(), QStringLiteral("就绪"));
        state.setConnected(false);
        QCOMPARE(entries(menu).first(), QStringLiteral("未连接"));
    }

    void theIconSitsInTheTrayAndTheMenuShowsEachState()
    {
        QVERIFY2(QSystemTrayIcon::isSystemTrayAvailable(), "no system tray (trayer) on the display");
        reset({GlobalHotkey::toggleDictation()});
        AppState state(options());
        state.refreshHotkeyShortcut();
        MenuBarController menuBar(state);
        QTRY_VERIFY(menuBar.trayIcon()->geometry().isValid());
        const QRect icon = menuBar.trayIcon()->geometry();
        QVERIFY2(icon.width() >= 16 && icon.height() >= 16, qPrintable(QStringLiteral("%1x%2").arg(icon.width()).arg(icon.height())));
        QVERIFY(!MenuBarController::icon().pixmap(22).isNull());

        openAndCapture(menuBar, QStringLiteral("idle"));

        state.setConnected(true);
        state.setDebugMode(true);
        state.setPhase(Phase::recording());
        state.setPartialText(QStringLiteral("今天的会议改到下午三点，请大家准时参加，并提前准备好各自负责部分的材料和数据"));
        state.setLastInjectedText(QStringLiteral("好的，我们明天上午十点在三楼会议室见面。"));
        openAndCapture(menuBar, QStringLiteral("debug"));

        state.setDebugMode(false);
        state.setPartialText({});
        state.setError(QStringLiteral("连接超时，请检查网络"));
        openAndCapture(menuBar, QStringLiteral("error"));
    }

    // Launched with its services, the state follows the stored shortcut and its presses on the
    // X server; the items toggle, flip the debug mode and open the window.
    void theShortcutAndTheItemsDriveTheState()
    {
        reset({GlobalHotkey::toggleDictation()});
        LogCapture log;
        AppState::Options launched = options();
        launched.launchServices = true;
        AppState state(launched);
        int injectors = 0;
        QVERIFY(state.installComponents({
            [] { return std::make_unique<FakeAudioCapture>(); },
            [&injectors] { ++injectors; return std::make_unique<RecordingTextInjection>(); },
            [] { return std::make_unique<FakeAccessTokenProvider>(); }, // nobody signed in
            [] { return std::make_unique<FakeHotWordsSource>(); },
        }));
        MenuBarController menuBar(state);
        const QMenu &menu = *menuBar.menu();
        const Shortcut controlAltSpace = Shortcut::fromKey(Key::space, ModifierFlags::control | ModifierFlags::option);
        QTRY_COMPARE(state.hotkeyShortcut(), std::optional(controlAltSpace));
        QCOMPARE(state.property("hotkeyShortcut").value<std::optional<Shortcut>>(), std::optional(controlAltSpace));
        // Nothing of a dictation exists before the first press.
        QVERIFY(!state.hasVoiceSocket() && !state.hasDictation());
        QCOMPARE(injectors, 0);

        // A press on the X server starts the dictation, which stops at the missing sign-in; the
        // toggle item dismisses the message.
        QVERIFY(ExternalTool::run(QStringLiteral("xdotool"), {QStringLiteral("key"), QStringLiteral("ctrl+alt+space")}));
        QTRY_COMPARE(state.phase(), Phase::error(QStringLiteral("登录已失效，请重新登录")));
        QVERIFY(state.hasVoiceSocket() && state.hasDictation());
        menu.actions().at(2)->trigger();
        QTRY_COMPARE(state.phase(), Phase::idle());

        // A new shortcut shows in the menu at once and works; a cleared one disables the item.
        setShortcut(Shortcut::fromKey(Key::f9, ModifierFlags::control), GlobalHotkey::toggleDictation());
        QTRY_COMPARE(entries(menu).at(2), QStringLiteral("开始/结束录音 (⌃F9)"));
        QVERIFY(ExternalTool::run(QStringLiteral("xdotool"), {QStringLiteral("key"), QStringLiteral("ctrl+F9")}));
        QTRY_VERIFY(state.phase().kind() == Phase::Kind::error);
        setShortcut(std::nullopt, GlobalHotkey::toggleDictation());
        QTRY_COMPARE(entries(menu).at(2), QStringLiteral("开始/结束录音 (未设置) [off]"));
        reset({GlobalHotkey::toggleDictation()});
        QTRY_COMPARE(state.hotkeyShortcut(), std::optional(controlAltSpace));

        // 调试模式 flips the state's flag (which the state keeps in its settings, as tst_dictation_flow checks).
        for (const bool on : {true, false}) {
            item(menu, QStringLiteral("调试模式"))->trigger();
            QCOMPARE(state.debugMode(), on);
            QCOMPARE(item(menu, QStringLiteral("调试模式"))->isChecked(), on);
        }

        // 打开主窗口: logged while there is no window, the opener once there is one.
        item(menu, QStringLiteral("打开主窗口"))->trigger();
        QCOMPARE(log.count(QStringLiteral("app"), QtInfoMsg, QStringLiteral("open main window: there is no main window yet")), 1);
        int opened = 0;
        menuBar.setMainWindowOpener([&opened] { ++opened; });
        item(menu, QStringLiteral("打开主窗口"))->trigger();
        QCOMPARE(opened, 1);
        removeAllHandlers(); // the shortcut is the program's in the cases that follow
    }

    void showsFromTheFirstPhaseAndHidesADelayAfterIdle()
    {
        LogCapture log;
        AppState state(options());
        OverlayController overlay;
        overlay.bind(state);
        // The idle delivered at binding makes nothing.
        QVERIFY(!overlay.panel());
        QVERIFY(log.messages(QStringLiteral("app")).isEmpty());

        state.setPhase(Phase::recording());
        RecordingOverlayPanel *panel = overlay.panel();
        QVERIFY(panel);
        QVERIFY(panel->isVisible());
        const QRect place = overlayPlace(), available = QGuiApplication::primaryScreen()->availableGeometry();
        QCOMPARE(panel->geometry(), place);
        QCOMPARE(available.bottom() - place.bottom(), 120);
        QCOMPARE(place.center().x(), available.center().x());
        QCOMPARE(log.count(QStringLiteral("app"), QtDebugMsg, QStringLiteral("overlay: shown")), 1);
        QTRY_VERIFY(panel->view()->isAnimating());

        // The check once the injection has told what it did, not before.
        for (const Phase &phase : {Phase::finalizing(), Phase::polishing(), Phase::injecting()})
            state.setPhase(phase);
        QCOMPARE(panel->view()->text(), QStringLiteral("润色中…"));
        Q_EMIT state.textDelivered(TextInjection::Outcome::pasted);
        QCOMPARE(panel->view()->text(), QStringLiteral("已完成"));
        QCOMPARE(panel->view()->indicator(), RecordingOverlayView::Indicator::check);
        QVERIFY(!panel->view()->isAnimating());

        // Idle: up for the delay (still showing what it showed), then gone.
        QElapsedTimer clock;
        clock.start();
        state.setPhase(Phase::idle());
        QVERIFY(panel->isVisible());
        QCOMPARE(panel->view()->text(), QStringLiteral("已完成"));
        QTRY_VERIFY_WITH_TIMEOUT(!panel->isVisible(), 2000);
        QVERIFY2(clock.elapsed() >= 180 && clock.elapsed() < 1000, qPrintable(QString::number(clock.elapsed())));
        QCOMPARE(log.count(QStringLiteral("app"), QtDebugMsg, QStringLiteral("overlay: hidden")), 1);

        // A new phase inside the delay keeps it up where it is; from hidden it is placed again.
        state.setPhase(Phase::recording());
        QCOMPARE(log.count(QStringLiteral("app"), QtDebugMsg, QStringLiteral("overlay: shown")), 2);
        panel->move(place.topLeft() - QPoint(100, 100));
        state.setPhase(Phase::idle());
        QTest::qWait(50);
        state.setPhase(Phase::error(QStringLiteral("网络错误")));
        QTest::qWait(400);
        QVERIFY(panel->isVisible());
        QCOMPARE(panel->pos(), place.topLeft() - QPoint(100, 100));
        QCOMPARE(log.count(QStringLiteral("app"), QtDebugMsg, QStringLiteral("overlay: hidden")), 1);
        state.setPhase(Phase::idle());
        QTRY_VERIFY(!panel->isVisible());
        state.setPhase(Phase::recording());
        QCOMPARE(panel->pos(), place.topLeft());
        QCOMPARE(overlay.panel(), panel); // made once, then reused

        // Hidden, it runs nothing: no animation, no pending hide.
        state.setPhase(Phase::idle());
        QTRY_VERIFY(!panel->isVisible());
        QVERIFY(!panel->view()->isAnimating());
        QVERIFY(!overlay.isHiding());
    }

    void drawsEachPhaseOnOneLine()
    {
        AppState state(options());
        OverlayController overlay;
        overlay.bind(state);
        state.setPartialText(QStringLiteral("你好世界"));
        state.setPhase(Phase::recording());
        const RecordingOverlayView *view = overlay.panel()->view();
        QCOMPARE(view->text(), QStringLiteral("聆听中…"));
        QCOMPARE(view->indicator(), RecordingOverlayView::Indicator::pulsingDot);
        capture(overlay, QStringLiteral("recording"));

        // Debug mode: the live transcript replaces the listening line, cut in the middle when long.
        state.setDebugMode(true);
        QCOMPARE(view->text(), QStringLiteral("你好世界"));
        QString transcript = QStringLiteral("开头的话");
        for (int i = 0; i < 60; ++i)
            transcript += QStringLiteral("中间");
        transcript += QStringLiteral("\n结尾的话");
        state.setPartialText(transcript);
        QString shown = view->displayedText();
        QVERIFY2(shown.startsWith(QStringLiteral("开头的话")) && shown.endsWith(QStringLiteral("结尾的话")), qPrintable(shown));
        QVERIFY(shown.contains(u'…') && !shown.contains(u'\n'));
        QVERIFY(QFontMetrics(RecordingOverlayView::textFont()).horizontalAdvance(shown) <= 254);
        capture(overlay, QStringLiteral("recording-debug"));
        state.setDebugMode(false);
        QCOMPARE(view->text(), QStringLiteral("聆听中…"));

        state.setPhase(Phase::finalizing());
        QCOMPARE(view->indicator(), RecordingOverlayView::Indicator::spinner);
        QTRY_VERIFY(view->isAnimating());
        capture(overlay, QStringLiteral("finalizing"));
        state.setPhase(Phase::polishing());
        capture(overlay, QStringLiteral("polishing"));

        // Left on the clipboard: the check (green in the indicator's box) and how to paste, in full.
        state.setPhase(Phase::injecting());
        Q_EMIT state.textDelivered(TextInjection::Outcome::copiedOnly);
        QCOMPARE(view->displayedText(), QStringLiteral("已复制,请按 Ctrl+V 粘贴"));
        const QImage injecting = capture(overlay, QStringLiteral("copied-only"));
        QVERIFY(colouredIndicatorPixels(injecting, [](const QColor &c) { return c.green() > 150 && c.red() < 120; }) > 40);
        // A new injection starts without that outcome; a failed one keeps the spinner until its error.
        state.setPhase(Phase::polishing());
        state.setPhase(Phase::injecting());
        Q_EMIT state.textDelivered(TextInjection::Outcome::failed);
        QCOMPARE(view->indicator(), RecordingOverlayView::Indicator::spinner);

        state.setPhase(Phase::error(QStringLiteral("连接失败：服务器没有在规定的时间内回应，请检查网络连接后再试一次")));
        const QImage error = capture(overlay, QStringLiteral("error"));
        QVERIFY(colouredIndicatorPixels(error, [](const QColor &c) {
                    return c.red() > 200 && c.green() > 100 && c.green() < 190 && c.blue() < 80;
                }) > 30);

        // Capsule: near-black (0.78) in the middle, nothing at the corners, text pixels in white.
        QCOMPARE(qAlpha(error.pixel(0, 0)), 0);
        QVERIFY(qAbs(qAlpha(error.pixel(160, 8)) - 199) <= 2);
        int whiteText = 0;
        for (int x = 46; x < 300; ++x)
            for (int y = 18; y < 38; ++y)
                whiteText += qGray(error.pixel(x, y)) > 200;
        QVERIFY2(whiteText > 150, qPrintable(QString::number(whiteText)));
    }

    void staysAboveAFullScreenWindowAndLetsClicksThrough()
    {
        AppState state(options());
        OverlayController overlay;
        overlay.bind(state);
        QWidget below; // plain white
        below.setAutoFillBackground(true);
        below.setPalette(QPalette(Qt::white));
        below.setWindowTitle(QStringLiteral("below"));
        below.showFullScreen();
        QVERIFY(QTest::qWaitForWindowExposed(&below));
        QTRY_COMPARE(below.geometry(), QGuiApplication::primaryScreen()->geometry());

        state.setPhase(Phase::recording());
        RecordingOverlayPanel *panel = overlay.panel();
        QVERIFY(QTest::qWaitForWindowExposed(panel));
        QTest::qWait(200);
        const QRect place = panel->geometry();
        QImage screen = Artifacts::grabScreen(place);
        Artifacts::save(label, QStringLiteral("overlay-on-screen"), screen);
        QVERIFY2(qGray(screen.pixel(160, 28)) < 40, qPrintable(QColor(screen.pixel(160, 28)).name()));
        // Corners are cut away: the white window below shows there.
        QVERIFY2(qGray(screen.pixel(0, 0)) > 240, qPrintable(QColor(screen.pixel(0, 0)).name()));

        // The pointer at its centre is over the window below as far as the X server is concerned (the
        // overlay's input region is empty), so a click there goes to that window, which the window
        // manager then raises and activates: the overlay stays on top.
        const QPoint centre = place.center();
        QVERIFY(ExternalTool::xdotool({QStringLiteral("mousemove"), QStringLiteral("--sync"), QString::number(centre.x()), QString::number(centre.y())}));
        const auto under = ExternalTool::run(QStringLiteral("xdotool"), {QStringLiteral("getmouselocation"), QStringLiteral("--shell")});
        QVERIFY(under);
        QVERIFY2(under->contains("WINDOW=") && !under->contains("WINDOW=" + QByteArray::number(panel->winId()) + '\n'),
                 under->constData());
        QVERIFY(ExternalTool::xdotool({QStringLiteral("click"), QStringLiteral("1")}));
        QVERIFY(ExternalTool::xdotool({QStringLiteral("windowactivate"), QStringLiteral("--sync"), QString::number(below.winId())}));
        QTest::qWait(300);
        screen = Artifacts::grabScreen(place);
        QVERIFY2(qGray(screen.pixel(160, 28)) < 40, "the full-screen window covers the overlay");
        QVERIFY(!panel->isActiveWindow());
    }

    // The program starts after the cases in this process (whose shortcut it would hold) and puts
    // its icon into the tray.
    void theProgramsIconIsEmbeddedInTheTray()
    {
        QVERIFY2(m_rig.start({QStringLiteral("Murlex")}), qPrintable(m_rig.failure()));
        // The icon is embedded in the tray: a small window of the application whose parent is not the root.
        QStringList ids;
        QTRY_VERIFY_WITH_TIMEOUT(!visibleAppWindows().isEmpty(), 10000);
        const QList<QRect> windows = visibleAppWindows(&ids);
        QCOMPARE(windows.size(), 1);
        m_icon = windows.first();
        QVERIFY2(m_icon.width() <= 32 && m_icon.height() <= 32 && m_icon.top() < 32,
                 qPrintable(QStringLiteral("%1,%2 %3x%4").arg(m_icon.x()).arg(m_icon.y()).arg(m_icon.width()).arg(m_icon.height())));
        const auto tree = ExternalTool::run(QStringLiteral("xwininfo"), {QStringLiteral("-children"), QStringLiteral("-id"), ids.first()});
        QVERIFY(tree);
        const auto root = ExternalTool::run(QStringLiteral("xwininfo"), {QStringLiteral("-root")});
        QVERIFY(root);
        const QString rootId = QRegularExpression(QStringLiteral("Window id: (0x[0-9a-f]+)")).match(QString::fromUtf8(*root)).captured(1);
        const QString parent = QRegularExpression(QStringLiteral("Parent window id: (0x[0-9a-f]+)")).match(QString::fromUtf8(*tree)).captured(1);
        QVERIFY(!rootId.isEmpty() && !parent.isEmpty());
        QVERIFY2(parent != rootId, "the tray icon is a top-level window, not embedded in the tray");
    }

    void aDictationFromTheMenuShowsTheOverlayThenTheCheck()
    {
        QVERIFY(m_rig.focusField());
        QVERIFY(openMenu());
        QTest::qWait(150);
        Artifacts::save(label, QStringLiteral("app-menu"), Artifacts::grabScreen(menuWindow()));
        QVERIFY(ExternalTool::xdotool({QStringLiteral("key"), QStringLiteral("Escape")}));
        QTRY_VERIFY(!menuWindow().isValid());
        QVERIFY(m_rig.focusField());

        const QRect place = overlayPlace();
        int toggles = 0;
        QImage recording;
        const qsizetype from = m_rig.app().lines().size();
        const auto dictation = m_rig.dictate(PipeSource::tone(440.0, 1.5), [&] {
            if (++toggles == 2) {
                // Still recording: the overlay is up, dark, with the red dot.
                recording = Artifacts::grabScreen(place);
            }
            return chooseToggleFromTheMenu();
        });
        QVERIFY2(dictation, qPrintable(m_rig.failure() + m_rig.app().lines().mid(from).join(u'\n')));
        const QImage done = Artifacts::grabScreen(place);
        Artifacts::save(label, QStringLiteral("app-overlay-recording"), recording);
        Artifacts::save(label, QStringLiteral("app-overlay-done"), done);
        QVERIFY2(dictation->inserted.startsWith(QStringLiteral("Duration ")), qPrintable(dictation->inserted));

        QCOMPARE(m_rig.app().linesContaining(QStringLiteral("overlay: shown")).size(), 1);
        QVERIFY2(qGray(recording.pixel(160, 28)) < 40, qPrintable(QColor(recording.pixel(160, 28)).name()));
        const QColor dot = recording.pixelColor(27, 28);
        QVERIFY2(dot.red() > 200 && dot.green() < 120, qPrintable(dot.name()));
        // The text is in the field: the overlay shows the check until it goes, 0.2 s after idle.
        const QColor check = done.pixelColor(27, 23);
        QVERIFY2(check.green() > 150 && check.red() < 120, qPrintable(check.name()));

        QVERIFY(m_rig.app().waitForCount(QStringLiteral("overlay: hidden"), 1)); // (its delay: the overlay's own case)
        QTRY_VERIFY(!menuWindow().isValid());
    }

    void controlQInTheMenuQuitsCleanly()
    {
        QVERIFY(openMenu());
        QVERIFY(ExternalTool::xdotool({QStringLiteral("key"), QStringLiteral("ctrl+q")}));
        QTRY_VERIFY_WITH_TIMEOUT(!m_rig.app().isRunning(), 20000);
        QCOMPARE(m_rig.app().process().exitStatus(), QProcess::NormalExit);
        const QString log = m_rig.app().lines().join(u'\n');
        QVERIFY2(m_rig.app().process().exitCode() == 0, qPrintable(log));
        QCOMPARE(m_rig.app().count(QStringLiteral("quit from the menu")), 1);
        QCOMPARE(m_rig.app().count(QStringLiteral("Murlex exiting")), 1);
        QVERIFY2(!log.contains(QStringLiteral("Sanitizer")), qPrintable(log));
    }
};

QTEST_MAIN(TestShellApp)
#include "tst_shell_app.moc"
