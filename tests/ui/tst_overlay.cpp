// test-labels: shell
// test-services: desktop
// The recording overlay on the harness's X server under a real window manager: when it shows and
// hides, where, what it draws for each phase, that clicks go through it, and that it stays above a
// full-screen window. (That it leaves the focus with another program's field is shown by the
// application suite, whose dictation lands in that field while the overlay is up.)
#include "Artifacts.h"
#include "ExternalTool.h"
#include "LogCapture.h"
#include "app/AppState.h"
#include "ui/OverlayController.h"
#include "ui/RecordingOverlayPanel.h"
#include "ui/RecordingOverlayView.h"

#include <QElapsedTimer>
#include <QPainter>
#include <QScreen>
#include <QTemporaryDir>
#include <QtTest>

namespace {
const QString label = QStringLiteral("shell");

// A plain white window.
class WhiteWindow : public QWidget {
protected:
    void paintEvent(QPaintEvent *) override { QPainter(this).fillRect(rect(), Qt::white); }
};

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

bool run(const QStringList &arguments)
{
    return ExternalTool::run(QStringLiteral("xdotool"), arguments).has_value();
}
} // namespace

class TestOverlay : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;

    AppState::Options options() const
    {
        AppState::Options options;
        options.settingsPath = m_dir.filePath(QStringLiteral("settings.ini"));
        return options;
    }

    // The view's look in the current phase, saved for people and returned.
    QImage capture(const OverlayController &overlay, const QString &name)
    {
        const QImage image = rendered(*overlay.panel()->view());
        Artifacts::save(label, QStringLiteral("overlay-") + name, overChequers(image));
        return image;
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY2(QGuiApplication::platformName() == QStringLiteral("xcb"), "run the tests through scripts/harness.sh");
        QVERIFY(m_dir.isValid());
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
        const QRect place = RecordingOverlayPanel::placement(QGuiApplication::primaryScreen()->availableGeometry());
        QCOMPARE(panel->geometry(), place);
        QCOMPARE(place.size(), QSize(320, 56));
        const QRect available = QGuiApplication::primaryScreen()->availableGeometry();
        QCOMPARE(available.bottom() + 1 - place.bottom() - 1, 120);
        QCOMPARE(place.center().x(), available.center().x());
        QCOMPARE(log.count(QStringLiteral("app"), QtDebugMsg, QStringLiteral("overlay: shown")), 1);
        QTRY_VERIFY(panel->view()->isAnimating());

        for (const Phase &phase : {Phase::finalizing(), Phase::polishing(), Phase::injecting()})
            state.setPhase(phase);
        QCOMPARE(panel->view()->text(), QStringLiteral("已完成"));
        QCOMPARE(panel->view()->indicator(), RecordingOverlayView::Indicator::check);
        QVERIFY(!panel->view()->isAnimating());
        QCOMPARE(log.count(QStringLiteral("app"), QtDebugMsg, QStringLiteral("overlay: shown")), 1);

        // Idle: up for the delay (still showing what it showed), then gone.
        QElapsedTimer clock;
        clock.start();
        state.setPhase(Phase::idle());
        QVERIFY(panel->isVisible());
        QCOMPARE(panel->view()->text(), QStringLiteral("已完成"));
        QTRY_VERIFY_WITH_TIMEOUT(!panel->isVisible(), 2000);
        QVERIFY2(clock.elapsed() >= 180 && clock.elapsed() < 1000, qPrintable(QString::number(clock.elapsed())));
        QCOMPARE(log.count(QStringLiteral("app"), QtDebugMsg, QStringLiteral("overlay: hidden")), 1);
        QVERIFY(!overlay.isHiding());

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
        QCOMPARE(view->text(), QStringLiteral("润色中…"));
        capture(overlay, QStringLiteral("polishing"));

        // The check: green pixels in the indicator's box.
        state.setPhase(Phase::injecting());
        const QImage injecting = capture(overlay, QStringLiteral("injecting"));
        QVERIFY(colouredIndicatorPixels(injecting, [](const QColor &c) { return c.green() > 150 && c.red() < 120; }) > 40);

        const QString message = QStringLiteral("连接失败：服务器没有在规定的时间内回应，请检查网络连接后再试一次，或者稍后再试");
        state.setPhase(Phase::error(message + QStringLiteral("\n第二行")));
        shown = view->displayedText();
        QVERIFY2(shown.startsWith(QStringLiteral("连接失败")) && shown.endsWith(QStringLiteral("第二行")) && shown.contains(u'…'),
                 qPrintable(shown));
        const QImage error = capture(overlay, QStringLiteral("error"));
        QVERIFY(colouredIndicatorPixels(error, [](const QColor &c) {
                    return c.red() > 200 && c.green() > 100 && c.green() < 190 && c.blue() < 80;
                }) > 30);

        // Capsule: near-black (0.78) in the middle, nothing at the corners, text pixels in white.
        QCOMPARE(qAlpha(error.pixel(0, 0)), 0);
        QCOMPARE(qAlpha(error.pixel(319, 55)), 0);
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
        WhiteWindow below;
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
        QVERIFY(qGray(screen.pixel(319, 55)) > 240);

        // The pointer at its centre is over the window below as far as the X server is concerned (the
        // overlay's input region is empty), so a click there goes to that window, which the window
        // manager then raises and activates: the overlay stays on top.
        const QPoint centre = place.center();
        QVERIFY(run({QStringLiteral("mousemove"), QStringLiteral("--sync"), QString::number(centre.x()), QString::number(centre.y())}));
        const auto under = ExternalTool::run(QStringLiteral("xdotool"), {QStringLiteral("getmouselocation"), QStringLiteral("--shell")});
        QVERIFY(under);
        QVERIFY2(under->contains("WINDOW=") && !under->contains("WINDOW=" + QByteArray::number(panel->winId()) + '\n'),
                 under->constData());
        QVERIFY(run({QStringLiteral("click"), QStringLiteral("1")}));
        QVERIFY(run({QStringLiteral("windowactivate"), QStringLiteral("--sync"), QString::number(below.winId())}));
        QTest::qWait(300);
        screen = Artifacts::grabScreen(place);
        QVERIFY2(qGray(screen.pixel(160, 28)) < 40, "the full-screen window covers the overlay");
        QVERIFY(!panel->isActiveWindow());
    }
};

QTEST_MAIN(TestOverlay)
#include "tst_overlay.moc"
