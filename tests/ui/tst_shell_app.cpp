// test-labels: shell
// test-services: desktop
// The shell on the harness's X server with a window manager and an XEmbed tray: the tray menu
// following the state, the recording overlay (placement, each phase, click-through, above a
// full-screen window); then the murlex program (tests/helpers/murlex_e2e, signed in against the
// stand-in) in the tray, dictating from its menu into another program's field, quitting on Control+Q.
#include "Artifacts.h"
#include "EndToEndRig.h"
#include "ExternalTool.h"
#include "FakeAccessTokenProvider.h"
#include "FakeAudioCapture.h"
#include "FakeHotWordsSource.h"
#include "LogCapture.h"
#include "PipeSource.h"
#include "RecordingTextInjection.h"
#include "UiServices.h"
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

#include <algorithm>

using namespace KeyboardShortcuts;
using namespace Qt::StringLiterals;

namespace {
const QString label = u"shell"_s;

std::optional<QByteArray> xdotool(const QStringList &arguments) { return ExternalTool::run(u"xdotool"_s, arguments); }

// The murlex program's windows on screen now, with their places.
QList<QRect> visibleAppWindows(QStringList *ids = nullptr)
{
    QList<QRect> windows;
    const auto found = xdotool({u"search"_s, u"--onlyvisible"_s, u"--classname"_s, u"^murlex_e2e$"_s});
    for (const QByteArray &id : found ? found->trimmed().split('\n') : QList<QByteArray>()) {
        const auto geometry = xdotool({u"getwindowgeometry"_s, u"--shell"_s, QString::fromLatin1(id)});
        const auto value = [&](const char *key) {
            return QRegularExpression(u"(?m)^"_s + QLatin1String(key) + u"=(\\d+)"_s).match(QString::fromLatin1(geometry.value_or(""))).captured(1).toInt();
        };
        windows << QRect(value("X"), value("Y"), value("WIDTH"), value("HEIGHT"));
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
        QString line = action->isSeparator() ? u"-"_s : action->text();
        if (!action->isSeparator() && !qobject_cast<const QWidgetAction *>(action)) {
            line.replace(u"&&"_s, u"&"_s);
            line += action->isCheckable() ? (action->isChecked() ? u" [x]"_s : u" [ ]"_s) : QString();
            line += action->isEnabled() ? QString() : u" [off]"_s;
        }
        lines << line;
    }
    return lines;
}

QAction *item(const QMenu &menu, const QString &title)
{
    const QList<QAction *> actions = menu.actions();
    const auto found = std::find_if(actions.begin(), actions.end(), [&](QAction *a) { return a->text() == title; });
    return found == actions.end() ? nullptr : *found;
}

QRect overlayPlace() { return RecordingOverlayPanel::placement(QGuiApplication::primaryScreen()->availableGeometry()); }

// The view drawn with its transparency kept.
QImage rendered(const RecordingOverlayView &view)
{
    QImage image(view.size(), QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    const_cast<RecordingOverlayView &>(view).render(&image, QPoint(), QRegion(), QWidget::DrawChildren);
    return image;
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
        options.settingsPath = m_dir.filePath(u"settings.ini"_s);
        options.errorResetDelay = errorResetDelay;
        return options;
    }

    // Opens the menu where the tray icon is and saves what the screen shows.
    void openAndCapture(MenuBarController &menuBar, const QString &name)
    {
        QTRY_VERIFY(menuBar.trayIcon()->geometry().isValid());
        menuBar.menu()->popup(menuBar.trayIcon()->geometry().bottomLeft());
        QVERIFY(QTest::qWaitForWindowExposed(menuBar.menu()));
        QTest::qWait(150);
        QVERIFY(UiServices::saveShot(label, u"menu-"_s + name, Artifacts::grabScreen(menuBar.menu()->geometry()), 400));
        menuBar.menu()->hide();
    }

    // The view's look in the current phase, saved for people (over chequers that show its
    // transparency) and returned.
    QImage capture(const OverlayController &overlay, const QString &name)
    {
        const QImage image = rendered(*overlay.panel()->view());
        QImage out(image.size() + QSize(40, 40), QImage::Format_ARGB32_Premultiplied);
        QPainter painter(&out);
        for (int y = 0; y < out.height(); y += 10)
            for (int x = 0; x < out.width(); x += 10)
                painter.fillRect(x, y, 10, 10, ((x + y) / 10) % 2 ? QColor(0xF2, 0xF2, 0xF2) : QColor(0x3A, 0x7B, 0xD5));
        painter.drawImage(20, 20, image);
        Artifacts::save(label, u"overlay-"_s + name, out);
        return image;
    }

    // The menu of the program's icon: a window of the program taller than the overlay.
    bool openMenu()
    {
        // (No --sync: it would wait for a motion that never comes when the pointer is already there.)
        return ExternalTool::xdotool({u"mousemove"_s, QString::number(m_icon.center().x()), QString::number(m_icon.center().y()),
                                      u"sleep"_s, u"0.2"_s, u"click"_s, u"3"_s})
            && QTest::qWaitFor([&] { return menuWindow().isValid(); }, 5000);
    }
    static QRect menuWindow()
    {
        for (const QRect &window : visibleAppWindows())
            if (window.height() > 80)
                return window;
        return {};
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY2(QGuiApplication::platformName() == u"xcb"_s, "run the tests through scripts/harness.sh");
        AppIdentity::install();
        QVERIFY(m_dir.isValid());
    }

    void entriesFollowTheState()
    {
        AppState state(options(std::chrono::milliseconds(300)));
        MenuBarController menuBar(state);
        const QMenu &menu = *menuBar.menu();
        const QStringList tail = {u"开始/结束录音 (未设置) [off]"_s, u"粘贴上一次结果 [off]"_s, u"调试模式 [ ]"_s, u"-"_s, u"打开主窗口"_s,
                                  u"退出 MurlexMac"_s};
        QCOMPARE(entries(menu), QStringList({u"未连接"_s, u"-"_s}) + tail);
        state.setConnected(true);
        QCOMPARE(entries(menu).first(), u"就绪"_s);
        state.setPhase(Phase::recording());
        QCOMPARE(entries(menu).first(), u"● 录音中…"_s);

        // Debug off: no transcript lines or their separators, whatever the texts.
        state.setPhase(Phase::idle());
        state.setPartialText(u"正在说的话"_s);
        state.setLastInjectedText(u"abc"_s);
        QCOMPARE(entries(menu), QStringList({u"就绪"_s, u"-"_s}) + tail);
        state.setDebugMode(true);
        QStringList debugTail = tail;
        debugTail[2] = u"调试模式 [x]"_s;
        QCOMPARE(entries(menu), QStringList({u"就绪"_s, u"-"_s, u"\"正在说的话\""_s, u"-"_s, u"上次注入: abc…"_s, u"-"_s}) + debugTail);
        // The last text is cut to 60 characters, never in the middle of one, plus the ellipsis; a long
        // transcript takes two lines.
        const QString sixtieth = QString(59, u'x') + u"👍🏽"_s;
        state.setLastInjectedText(sixtieth + QString(40, u'y'));
        QCOMPARE(entries(menu).at(4), u"上次注入: "_s + sixtieth + u'…');
        state.setPartialText(QString(200, u'话'));
        const QString transcript = qobject_cast<QLabel *>(qobject_cast<QWidgetAction *>(menu.actions().at(2))->defaultWidget())->text();
        QCOMPARE(transcript.count(u'\n'), 1);
        QVERIFY2(transcript.startsWith(u'"') && transcript.endsWith(u'…'), qPrintable(transcript));
        state.setPartialText({});
        QCOMPARE(entries(menu).at(2), u"上次注入: "_s + sixtieth + u'…');
        state.setDebugMode(false);

        // An error shows with its sign until the state returns to idle by itself.
        state.setError(u"网络连接失败"_s);
        QCOMPARE(entries(menu).first(), u"⚠ 网络连接失败"_s);
        QTRY_COMPARE(entries(menu).first(), u"就绪"_s);
    }

    // Launched with its services, the state follows the stored shortcut; the items toggle, follow
    // the shortcut, flip the debug mode and open the window. The menu on screen in three states.
    void theItemsDriveTheState()
    {
        QVERIFY2(QSystemTrayIcon::isSystemTrayAvailable(), "no system tray (trayer) on the display");
        reset({GlobalHotkey::toggleDictation()});
        LogCapture log;
        AppState::Options launched = options();
        launched.launchServices = true;
        AppState state(launched);
        QVERIFY(state.installComponents({
            [] { return std::make_unique<FakeAudioCapture>(); },
            [] { return std::make_unique<RecordingTextInjection>(); },
            [] { return std::make_unique<FakeAccessTokenProvider>(); }, // nobody signed in
            [] { return std::make_unique<FakeHotWordsSource>(); },
        }));
        MenuBarController menuBar(state);
        const QMenu &menu = *menuBar.menu();
        const Shortcut controlAltSpace = Shortcut::fromKey(Key::space, ModifierFlags::control | ModifierFlags::option);
        QTRY_COMPARE(state.hotkeyShortcut(), std::optional(controlAltSpace));
        QVERIFY(!MenuBarController::icon().pixmap(22).isNull());
        openAndCapture(menuBar, u"idle"_s);

        // The toggle item starts a dictation (which stops at the missing sign-in), then dismisses it.
        menu.actions().at(2)->trigger();
        QTRY_COMPARE(state.phase(), Phase::error(u"登录已失效，请重新登录"_s));
        openAndCapture(menuBar, u"error"_s);
        menu.actions().at(2)->trigger();
        QTRY_COMPARE(state.phase(), Phase::idle());

        // A new shortcut shows in the menu at once; a cleared one disables the item.
        setShortcut(Shortcut::fromKey(Key::f9, ModifierFlags::control), GlobalHotkey::toggleDictation());
        QTRY_COMPARE(entries(menu).at(2), u"开始/结束录音 (⌃F9)"_s);
        setShortcut(std::nullopt, GlobalHotkey::toggleDictation());
        QTRY_COMPARE(entries(menu).at(2), u"开始/结束录音 (未设置) [off]"_s);
        reset({GlobalHotkey::toggleDictation()});
        QTRY_COMPARE(state.hotkeyShortcut(), std::optional(controlAltSpace));

        for (const bool on : {true, false}) {
            item(menu, u"调试模式"_s)->trigger();
            QCOMPARE(state.debugMode(), on);
            QCOMPARE(item(menu, u"调试模式"_s)->isChecked(), on);
            if (!on)
                continue;
            state.setConnected(true);
            state.setPhase(Phase::recording());
            state.setPartialText(u"今天的会议改到下午三点，请大家准时参加，并提前准备好各自负责部分的材料和数据"_s);
            state.setLastInjectedText(u"好的，我们明天上午十点在三楼会议室见面。"_s);
            openAndCapture(menuBar, u"debug"_s);
            state.setPhase(Phase::idle());
        }
        // 打开主窗口: logged while there is no window, the opener once there is one.
        item(menu, u"打开主窗口"_s)->trigger();
        QCOMPARE(log.count(u"app"_s, QtInfoMsg, u"open main window: there is no main window yet"_s), 1);
        int opened = 0;
        menuBar.setMainWindowOpener([&opened] { ++opened; });
        item(menu, u"打开主窗口"_s)->trigger();
        QCOMPARE(opened, 1);
        removeAllHandlers(); // the shortcut is the program's in the cases that follow
    }

    void showsFromTheFirstPhaseDrawsEachOnOneLineAndHidesADelayAfterIdle()
    {
        LogCapture log;
        AppState state(options());
        OverlayController overlay;
        overlay.bind(state);
        QVERIFY(!overlay.panel()); // the idle delivered at binding makes nothing
        QVERIFY(log.messages(u"app"_s).isEmpty());
        const auto logged = [&](const char *what) { return log.count(u"app"_s, QtDebugMsg, u"overlay: "_s + QLatin1String(what)); };

        state.setPhase(Phase::recording());
        RecordingOverlayPanel *panel = overlay.panel();
        QVERIFY(panel && panel->isVisible());
        const QRect place = overlayPlace(), available = QGuiApplication::primaryScreen()->availableGeometry();
        QCOMPARE(panel->geometry(), place);
        QCOMPARE(available.bottom() - place.bottom(), 120);
        QCOMPARE(place.center().x(), available.center().x());
        QCOMPARE(logged("shown"), 1);
        QTRY_VERIFY(panel->view()->isAnimating());

        // The check once the injection has told what it did, not before.
        for (const Phase &phase : {Phase::finalizing(), Phase::polishing(), Phase::injecting()})
            state.setPhase(phase);
        QCOMPARE(panel->view()->text(), u"润色中…"_s);
        Q_EMIT state.textDelivered(TextInjection::Outcome::pasted);
        QCOMPARE(panel->view()->text(), u"已完成"_s);
        QCOMPARE(panel->view()->indicator(), RecordingOverlayView::Indicator::check);
        QVERIFY(!panel->view()->isAnimating());

        // Idle: up for the delay (still showing what it showed), then gone.
        QElapsedTimer clock;
        clock.start();
        state.setPhase(Phase::idle());
        QVERIFY(panel->isVisible());
        QCOMPARE(panel->view()->text(), u"已完成"_s);
        QTRY_VERIFY_WITH_TIMEOUT(!panel->isVisible(), 2000);
        QVERIFY2(clock.elapsed() >= 180 && clock.elapsed() < 1000, qPrintable(QString::number(clock.elapsed())));
        QCOMPARE(logged("hidden"), 1);

        // A new phase inside the delay keeps it up where it is; from hidden it is placed again.
        state.setPhase(Phase::recording());
        QCOMPARE(logged("shown"), 2);
        panel->move(place.topLeft() - QPoint(100, 100));
        state.setPhase(Phase::idle());
        QTest::qWait(50);
        state.setPhase(Phase::error(u"网络错误"_s));
        QTest::qWait(400);
        QVERIFY(panel->isVisible());
        QCOMPARE(panel->pos(), place.topLeft() - QPoint(100, 100));
        QCOMPARE(logged("hidden"), 1);
        state.setPhase(Phase::idle());
        QTRY_VERIFY(!panel->isVisible());
        state.setPhase(Phase::recording());
        QCOMPARE(panel->pos(), place.topLeft());
        QCOMPARE(overlay.panel(), panel); // made once, then reused

        // Hidden, it runs nothing: no animation, no pending hide.
        state.setPhase(Phase::idle());
        QTRY_VERIFY(!panel->isVisible());
        QVERIFY(!panel->view()->isAnimating() && !overlay.isHiding());

        // Each phase on one line, saved for people.
        state.setPartialText(u"你好世界"_s);
        state.setPhase(Phase::recording());
        const RecordingOverlayView *view = panel->view();
        QCOMPARE(view->text(), u"聆听中…"_s);
        QCOMPARE(view->indicator(), RecordingOverlayView::Indicator::pulsingDot);
        capture(overlay, u"recording"_s);

        // Debug mode: the live transcript replaces the listening line, cut in the middle when long.
        state.setDebugMode(true);
        QCOMPARE(view->text(), u"你好世界"_s);
        state.setPartialText(u"开头的话"_s + QString(u"中间"_s).repeated(60) + u"\n结尾的话"_s);
        const QString shown = view->displayedText();
        QVERIFY2(shown.startsWith(u"开头的话"_s) && shown.endsWith(u"结尾的话"_s), qPrintable(shown));
        QVERIFY(shown.contains(u'…') && !shown.contains(u'\n'));
        QVERIFY(QFontMetrics(RecordingOverlayView::textFont()).horizontalAdvance(shown) <= 254);
        capture(overlay, u"recording-debug"_s);
        state.setDebugMode(false);
        QCOMPARE(view->text(), u"聆听中…"_s);

        state.setPhase(Phase::finalizing());
        QCOMPARE(view->indicator(), RecordingOverlayView::Indicator::spinner);
        QTRY_VERIFY(view->isAnimating());
        capture(overlay, u"finalizing"_s);
        state.setPhase(Phase::polishing());
        capture(overlay, u"polishing"_s);

        // Left on the clipboard: the check (green in the indicator's box) and how to paste, in full.
        state.setPhase(Phase::injecting());
        Q_EMIT state.textDelivered(TextInjection::Outcome::copiedOnly);
        QCOMPARE(view->displayedText(), u"已复制,请按 Ctrl+V 粘贴"_s);
        const QImage copied = capture(overlay, u"copied-only"_s);
        QVERIFY(colouredIndicatorPixels(copied, [](const QColor &c) { return c.green() > 150 && c.red() < 120; }) > 40);
        // A new injection starts without that outcome; a failed one keeps the spinner until its error.
        state.setPhase(Phase::polishing());
        state.setPhase(Phase::injecting());
        Q_EMIT state.textDelivered(TextInjection::Outcome::failed);
        QCOMPARE(view->indicator(), RecordingOverlayView::Indicator::spinner);

        state.setPhase(Phase::error(u"连接失败：服务器没有在规定的时间内回应，请检查网络连接后再试一次"_s));
        const QImage error = capture(overlay, u"error"_s);
        QVERIFY(colouredIndicatorPixels(error, [](const QColor &c) { return c.red() > 200 && c.green() > 100 && c.green() < 190 && c.blue() < 80; }) > 30);
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
        below.showFullScreen();
        QVERIFY(QTest::qWaitForWindowExposed(&below));
        QTRY_COMPARE(below.geometry(), QGuiApplication::primaryScreen()->geometry());

        state.setPhase(Phase::recording());
        RecordingOverlayPanel *panel = overlay.panel();
        QVERIFY(QTest::qWaitForWindowExposed(panel));
        QTest::qWait(200);
        const QRect place = panel->geometry();
        QImage screen = Artifacts::grabScreen(place);
        Artifacts::save(label, u"overlay-on-screen"_s, screen);
        QVERIFY2(qGray(screen.pixel(160, 28)) < 40, qPrintable(QColor(screen.pixel(160, 28)).name()));
        QVERIFY2(qGray(screen.pixel(0, 0)) > 240, qPrintable(QColor(screen.pixel(0, 0)).name())); // cut corners show the window below

        // The overlay's input region is empty: the pointer at its centre is over the window below, so
        // a click there goes to that window, which the window manager raises: the overlay stays on top.
        QVERIFY(ExternalTool::xdotool({u"mousemove"_s, u"--sync"_s, QString::number(place.center().x()), QString::number(place.center().y())}));
        const auto under = xdotool({u"getmouselocation"_s, u"--shell"_s});
        QVERIFY(under && under->contains("WINDOW=") && !under->contains("WINDOW=" + QByteArray::number(panel->winId()) + '\n'));
        QVERIFY(ExternalTool::xdotool({u"click"_s, u"1"_s}));
        QVERIFY(ExternalTool::xdotool({u"windowactivate"_s, u"--sync"_s, QString::number(below.winId())}));
        QTest::qWait(300);
        screen = Artifacts::grabScreen(place);
        QVERIFY2(qGray(screen.pixel(160, 28)) < 40, "the full-screen window covers the overlay");
        QVERIFY(!panel->isActiveWindow());
    }

    // The program starts after the cases in this process (whose shortcut it would hold) and its
    // icon is embedded in the tray: a small window of the program whose parent is not the root.
    void theProgramsIconIsEmbeddedInTheTray()
    {
        QVERIFY2(m_rig.start({u"Murlex"_s}), qPrintable(m_rig.failure()));
        QStringList ids;
        QTRY_VERIFY_WITH_TIMEOUT(!visibleAppWindows().isEmpty(), 10000);
        const QList<QRect> windows = visibleAppWindows(&ids);
        QCOMPARE(windows.size(), 1);
        m_icon = windows.first();
        QVERIFY2(m_icon.width() <= 32 && m_icon.height() <= 32 && m_icon.top() < 32, qPrintable(QDebug::toString(m_icon)));
        const auto windowId = [](const std::optional<QByteArray> &info, const QString &what) {
            return QRegularExpression(what + u" id: (0x[0-9a-f]+)"_s).match(QString::fromUtf8(info.value_or(""))).captured(1);
        };
        const QString root = windowId(ExternalTool::run(u"xwininfo"_s, {u"-root"_s}), u"Window"_s);
        const QString parent = windowId(ExternalTool::run(u"xwininfo"_s, {u"-children"_s, u"-id"_s, ids.first()}), u"Parent window"_s);
        QVERIFY(!root.isEmpty() && !parent.isEmpty());
        QVERIFY2(parent != root, "the tray icon is a top-level window, not embedded in the tray");
    }

    void aDictationFromTheMenuShowsTheOverlayThenTheCheck()
    {
        QVERIFY(m_rig.focusField());
        QVERIFY(openMenu());
        QTest::qWait(150);
        Artifacts::save(label, u"app-menu"_s, Artifacts::grabScreen(menuWindow()));
        QVERIFY(ExternalTool::xdotool({u"key"_s, u"Escape"_s}));
        QTRY_VERIFY(!menuWindow().isValid());
        QVERIFY(m_rig.focusField());

        const QRect place = overlayPlace();
        int toggles = 0;
        QImage recording;
        const qsizetype from = m_rig.app().lines().size();
        // The toggle item is the first one the keyboard reaches; at the second the overlay shows the recording.
        const auto dictation = m_rig.dictate(PipeSource::tone(440.0, 1.5), [&] {
            if (++toggles == 2)
                recording = Artifacts::grabScreen(place);
            return openMenu() && ExternalTool::xdotool({u"key"_s, u"Down"_s, u"Return"_s});
        });
        QVERIFY2(dictation, qPrintable(m_rig.failure() + m_rig.app().lines().mid(from).join(u'\n')));
        const QImage done = Artifacts::grabScreen(place);
        Artifacts::save(label, u"app-overlay-recording"_s, recording);
        Artifacts::save(label, u"app-overlay-done"_s, done);
        QVERIFY2(dictation->inserted.startsWith(u"Duration "_s), qPrintable(dictation->inserted));

        QCOMPARE(m_rig.app().linesContaining(u"overlay: shown"_s).size(), 1);
        QVERIFY2(qGray(recording.pixel(160, 28)) < 40, qPrintable(QColor(recording.pixel(160, 28)).name())); // dark, with the red dot
        const QColor dot = recording.pixelColor(27, 28);
        QVERIFY2(dot.red() > 200 && dot.green() < 120, qPrintable(dot.name()));
        // The text is in the field: the overlay shows the check until it goes, 0.2 s after idle.
        const QColor check = done.pixelColor(27, 23);
        QVERIFY2(check.green() > 150 && check.red() < 120, qPrintable(check.name()));
        QVERIFY(m_rig.app().waitForCount(u"overlay: hidden"_s, 1));
        QTRY_VERIFY(!menuWindow().isValid());
    }

    void controlQInTheMenuQuitsCleanly()
    {
        QVERIFY(openMenu());
        QVERIFY(ExternalTool::xdotool({u"key"_s, u"ctrl+q"_s}));
        QTRY_VERIFY_WITH_TIMEOUT(!m_rig.app().isRunning(), 20000);
        const QString log = m_rig.app().lines().join(u'\n');
        QVERIFY2(m_rig.app().process().exitStatus() == QProcess::NormalExit && m_rig.app().process().exitCode() == 0, qPrintable(log));
        QCOMPARE(m_rig.app().count(u"quit from the menu"_s), 1);
        QCOMPARE(m_rig.app().count(u"Murlex exiting"_s), 1);
        QVERIFY2(!log.contains(u"Sanitizer"_s), qPrintable(log));
    }
};

QTEST_MAIN(TestShellApp)
#include "tst_shell_app.moc"
