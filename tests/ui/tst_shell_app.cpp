// test-labels: shell
// test-services: desktop
// The application's presence on a desktop, as a person meets it: the murlex program (tests/helpers/
// murlex_e2e, signed in against the stand-in) puts its icon into the real tray; a dictation started
// and ended from the tray menu shows the overlay while recording and the check once the text is in
// the focused field of another program, then hides the overlay; Control+Q in the menu quits cleanly.
#include "Artifacts.h"
#include "EndToEndRig.h"
#include "ExternalTool.h"
#include "PipeSource.h"
#include "ui/RecordingOverlayPanel.h"

#include <QDateTime>
#include <QRegularExpression>
#include <QScreen>
#include <QtTest>

namespace {
const QString label = QStringLiteral("shell");

std::optional<QByteArray> tool(const QString &program, const QStringList &arguments)
{
    return ExternalTool::run(program, arguments);
}

// The application's windows on screen now, with their places.
QList<QRect> visibleAppWindows(QStringList *ids = nullptr)
{
    QList<QRect> windows;
    const auto found = tool(QStringLiteral("xdotool"), {QStringLiteral("search"), QStringLiteral("--onlyvisible"),
                                                        QStringLiteral("--classname"), QStringLiteral("^murlex_e2e$")});
    if (!found)
        return windows;
    for (const QByteArray &id : found->trimmed().split('\n')) {
        const auto geometry = tool(QStringLiteral("xdotool"), {QStringLiteral("getwindowgeometry"), QStringLiteral("--shell"),
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

// The time stamp at the start of a log line.
QDateTime stamp(const QString &line)
{
    return QDateTime::fromString(line.left(23), QStringLiteral("yyyy-MM-dd hh:mm:ss.zzz"));
}

QRect overlayPlace()
{
    return RecordingOverlayPanel::placement(QGuiApplication::primaryScreen()->availableGeometry());
}
} // namespace

class TestShellApp : public QObject {
    Q_OBJECT

    EndToEndRig m_rig;
    QRect m_icon;

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
        QVERIFY2(m_rig.start({QStringLiteral("Murlex")}), qPrintable(m_rig.failure()));
        // The icon is embedded in the tray: a small window of the application whose parent is not the root.
        QStringList ids;
        QTRY_VERIFY_WITH_TIMEOUT(!visibleAppWindows().isEmpty(), 10000);
        const QList<QRect> windows = visibleAppWindows(&ids);
        QCOMPARE(windows.size(), 1);
        m_icon = windows.first();
        QVERIFY2(m_icon.width() <= 32 && m_icon.height() <= 32 && m_icon.top() < 32,
                 qPrintable(QStringLiteral("%1,%2 %3x%4").arg(m_icon.x()).arg(m_icon.y()).arg(m_icon.width()).arg(m_icon.height())));
        const auto tree = tool(QStringLiteral("xwininfo"), {QStringLiteral("-children"), QStringLiteral("-id"), ids.first()});
        QVERIFY(tree);
        const auto root = tool(QStringLiteral("xwininfo"), {QStringLiteral("-root")});
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

        QVERIFY(m_rig.app().waitForCount(QStringLiteral("overlay: hidden"), 1));
        const QStringList injected = m_rig.app().linesContaining(QStringLiteral("injected "));
        const qint64 hiddenAfter = stamp(injected.last()).msecsTo(stamp(m_rig.app().linesContaining(QStringLiteral("overlay: hidden")).last()));
        QVERIFY2(hiddenAfter >= 190 && hiddenAfter < 1000, qPrintable(QString::number(hiddenAfter)));
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
