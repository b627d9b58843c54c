// test-labels: wayland
// The injector in a real sway session (headless, started for this suite as an unprivileged user),
// as Murlex runs there: its own windows on X11, the text through the compositor's protocols into
// a native Qt field on Wayland. The clipboard's owner and reader are other processes.
#include "injection/TextInjector.h"
#include "platform/DesktopSession.h"
#include "platform/Platform.h"

#include "HelperProcess.h"
#include "LogCapture.h"
#include "WaylandClipboardReader.h"
#include "WaylandCompositor.h"

#include <QElapsedTimer>
#include <QSignalSpy>
#include <QtTest>

#include <csignal>
#include <memory>

using namespace std::chrono_literals;
using Outcome = TextInjection::Outcome;

class TestWaylandSway : public QObject {
    Q_OBJECT

    std::unique_ptr<WaylandCompositor> m_sway;

private Q_SLOTS:
    void initTestCase()
    {
        m_sway = std::make_unique<WaylandCompositor>(WaylandCompositor::Kind::sway);
        QVERIFY2(!m_sway->socket().isEmpty(), qPrintable(m_sway->failure()));
        m_sway->enterSession();
    }

    void cleanupTestCase() { m_sway.reset(); }

    // What sway offers, and the one line that says so; a desktop portal that never answers holds
    // the start up for the bus's bound (1.5 s), not the bus's default 25 s.
    void probeFindsWlrootsProtocolsAndBoundsThePortal()
    {
        const DesktopSession session = Platform::desktopSession();
        QCOMPARE(session.kind, DesktopSession::Kind::wayland);
        QVERIFY(session.wlrDataControl);
        QVERIFY(session.virtualKeyboard);
        QVERIFY(session.foreignToplevel);
        QVERIFY(!session.kdeFakeInput);
        QCOMPARE(session.textPath(), DesktopSession::TextPath::dataControlVirtualKeyboard);

        HelperProcess silent(QStringLiteral("silent_bus_name"), {QStringLiteral("org.freedesktop.portal.Desktop")});
        QVERIFY(silent.waitForLine(QStringLiteral("ready")));
        QCOMPARE(::kill(pid_t(silent.process().processId()), SIGSTOP), 0);
        LogCapture log;
        QElapsedTimer took;
        took.start();
        const DesktopSession probed = QCoro::waitFor(Platform::probeDesktopSession());
        const qint64 elapsed = took.elapsed();
        silent.process().kill();
        silent.process().waitForFinished();
        QVERIFY2(elapsed > 1000 && elapsed < 5000, qPrintable(QString::number(elapsed)));
        QCOMPARE(probed.globalShortcutsPortal, 0u);
        QCOMPARE(probed.remoteDesktopPortal, 0u);
        QVERIFY(!probed.fcitx5);
        const QStringList lines = log.messages(QStringLiteral("app"), QtInfoMsg);
        QCOMPARE(lines.size(), 1);
        QVERIFY2(lines[0].startsWith(QLatin1String("desktop session Wayland")), qPrintable(lines[0]));
        QVERIFY2(lines[0].contains(QLatin1String("zwlr_data_control_manager_v1 zwp_virtual_keyboard_manager_v1")),
                 qPrintable(lines[0]));
        QVERIFY2(lines[0].endsWith(QLatin1String("text via data-control + virtual keyboard")), qPrintable(lines[0]));
    }

    // Chinese text reaches the native field by the clipboard and Control+V of a virtual keyboard;
    // then the clipboard holds what another program had put there, every format byte for byte,
    // one of them binary, although that program has gone meanwhile. A terminal gets its own chord.
    void chineseTextArrivesAndTheClipboardIsRestored()
    {
        const QByteArray binary("\x00\x01\xfe\xff\x80murlex\x00\x7f", 13);
        const QByteArray previousText = QStringLiteral("原来的内容").toUtf8();
        const QProcessEnvironment session = m_sway->clientEnvironment();
        auto owner = m_sway->ownClipboard({{QStringLiteral("text/plain;charset=utf-8"), previousText},
                                           {QStringLiteral("application/x-murlex-test"), binary}});
        QVERIFY(owner);
        QTRY_COMPARE(WaylandClipboardReader::read(session, QStringLiteral("application/x-murlex-test")),
                     std::optional<QByteArray>(binary));

        // The injector (with its virtual keyboard) first, so that the seat has a keyboard whose
        // keymap the field receives when it gets the focus.
        TextInjector injector(TextInjector::Services::system(), 150ms);
        HelperProcess field(QStringLiteral("injection_target"), {}, session);
        QVERIFY(field.waitForLine(QStringLiteral("active")));

        QSignalSpy restored(&injector, &TextInjector::clipboardRestored);
        const QString text = QStringLiteral("你好，世界！语音输入。");
        QCOMPARE(QCoro::waitFor(injector.inject(text)), Outcome::pasted);
        QCOMPARE(field.textAfterChange(), text);
        QTRY_COMPARE(restored.count(), 1);
        owner.reset();

        const std::optional<QStringList> types = WaylandClipboardReader::types(session);
        QVERIFY(types);
        QCOMPARE(QSet<QString>(types->begin(), types->end()),
                 (QSet<QString>{QStringLiteral("text/plain;charset=utf-8"), QStringLiteral("application/x-murlex-test")}));
        QCOMPARE(WaylandClipboardReader::read(session, QStringLiteral("text/plain;charset=utf-8")),
                 std::optional<QByteArray>(previousText));
        QCOMPARE(WaylandClipboardReader::read(session, QStringLiteral("application/x-murlex-test")),
                 std::optional<QByteArray>(binary));
        // Only one key reached the field: Control+V.
        QCOMPARE(field.linesStartingWith(QStringLiteral("key ")), QStringList{QStringLiteral("Ctrl+V")});

        // The focused application's id comes from the foreign-toplevel protocol: a terminal's gets
        // the terminal chord.
        HelperProcess terminal(QStringLiteral("injection_target"), {QStringLiteral("--app-id"), QStringLiteral("org.kde.konsole")},
                               session);
        QVERIFY(terminal.waitForLine(QStringLiteral("active")));
        QTRY_COMPARE(Platform::focusedWindow()->windowClass().className, QStringLiteral("org.kde.konsole"));
        QCOMPARE(QCoro::waitFor(injector.inject(QStringLiteral("ls -la"))), Outcome::pasted);
        QVERIFY(terminal.waitForLine(QStringLiteral("key Ctrl+Shift+V")));
    }
};

QTEST_MAIN(TestWaylandSway)
#include "tst_waylandsway.moc"
