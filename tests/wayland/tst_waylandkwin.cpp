// test-labels: wayland
// The injector in a real KWin session (kwin_wayland --virtual, started for this suite) with
// Murlex's desktop entry installed for the injecting program (the injection_probe helper): the
// text through data-control and KWin's fake input into a native Qt field. A program without such
// an entry (this one) gets no fake input and leaves the text on the clipboard, saying so; so does
// a Wayland session with none of the compositor's means.
#include "injection/TextInjector.h"
#include "platform/DesktopSession.h"
#include "platform/Platform.h"

#include "HelperProcess.h"
#include "WaylandClipboardReader.h"
#include "WaylandCompositor.h"

#include <QClipboard>
#include <QScopeGuard>
#include <QGuiApplication>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include <algorithm>
#include <memory>

using namespace std::chrono_literals;
using Outcome = TextInjection::Outcome;

class TestWaylandKWin : public QObject {
    Q_OBJECT

    QTemporaryDir m_data;
    std::unique_ptr<WaylandCompositor> m_kwin;

private Q_SLOTS:
    void initTestCase()
    {
        // Murlex's desktop entry as installed, with the injecting helper in Exec: KWin matches the
        // entry to a client by its executable.
        QFile templateFile(QStringLiteral(MURLEX_SOURCE_DIR "/packaging/quillfen.MurlexMac.desktop.in"));
        QVERIFY(m_data.isValid() && templateFile.open(QIODevice::ReadOnly));
        QByteArray entry = templateFile.readAll();
        entry.replace("@MURLEX_EXEC@", QFile::encodeName(HelperProcess::helperPath(QStringLiteral("injection_probe"))));
        QDir(m_data.path()).mkpath(QStringLiteral("applications"));
        QFile file(m_data.filePath(QStringLiteral("applications/quillfen.MurlexMac.desktop")));
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(entry) == entry.size());
        file.close();
        QProcessEnvironment data;
        data.insert(QStringLiteral("XDG_DATA_HOME"), m_data.path());
        data.insert(QStringLiteral("XDG_DATA_DIRS"), QStringLiteral("/usr/local/share:/usr/share"));
        m_kwin = std::make_unique<WaylandCompositor>(WaylandCompositor::Kind::kwin, data);
        QVERIFY2(!m_kwin->socket().isEmpty(), qPrintable(m_kwin->failure()));
        m_kwin->enterSession();
        // KWin builds its service cache for the first client: let another client pay for it.
        WaylandClipboardReader::types(m_kwin->clientEnvironment());
    }

    void cleanupTestCase() { m_kwin.reset(); }

    // Chinese text reaches a native field by the clipboard and Control+V of the fake input; then
    // the clipboard holds again what another program had put there. The injecting program keeps
    // running, as Murlex does: the field reads the text from it after the keys.
    void chineseTextArrivesThroughFakeInput()
    {
        const QProcessEnvironment session = m_kwin->clientEnvironment();
        const QByteArray previous = QStringLiteral("原来的内容").toUtf8();
        const auto owner = m_kwin->ownClipboard({{QStringLiteral("text/plain;charset=utf-8"), previous}});
        QVERIFY(owner);
        // The injector with its fake input device first, so that the seat has a keyboard whose
        // keymap the field receives when it gets the focus.
        QProcessEnvironment offscreen = session;
        offscreen.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        HelperProcess injecting(QStringLiteral("injection_probe"), {QStringLiteral("--serve")}, offscreen,
                                QProcess::MergedChannels);
        QVERIFY(injecting.waitForLine(QStringLiteral("ready"), 20000));
        HelperProcess field(QStringLiteral("injection_target"), {}, session);
        QVERIFY(field.waitForLine(QStringLiteral("active"), 20000));

        const QString text = QStringLiteral("在 KDE 里说的中文。");
        injecting.process().write(text.toUtf8() + '\n');
        QCOMPARE(injecting.waitForLine(QStringLiteral("inject "), 15000), std::optional<QString>(QStringLiteral("true")));
        QCOMPARE(field.textAfterChange(), text);
        QCOMPARE(field.linesStartingWith(QStringLiteral("key ")), QStringList{QStringLiteral("Ctrl+V")});
        QTRY_COMPARE(WaylandClipboardReader::read(session, QStringLiteral("text/plain;charset=utf-8")),
                     std::optional<QByteArray>(previous));
    }

    // KWin offers the wlroots data-control to every client, its fake input only to programs
    // whose entry asks for it: this one, without an entry, gets none, so its text stays on the
    // clipboard (read back by another client) and the injection does not claim a paste. The same
    // in a Wayland session whose compositor cannot be reached at all (as on a desktop without any
    // of these protocols): the text stays on XWayland's clipboard and nothing is restored over
    // it. (What the capsule says then: tst_shell_app's drawsEachPhaseOnOneLine.)
    void withoutFakeInputTheTextStaysOnTheClipboard()
    {
        const DesktopSession session = Platform::desktopSession();
        QCOMPARE(session.kind, DesktopSession::Kind::wayland);
        QVERIFY(session.wlrDataControl);
        QVERIFY(!session.kdeFakeInput);
        QCOMPARE(session.textPath(), DesktopSession::TextPath::clipboardOnly);
        {
            TextInjector injector(TextInjector::Services::system(), 150ms);
            const QString text = QStringLiteral("请自己粘贴");
            QCOMPARE(QCoro::waitFor(injector.inject(text)), Outcome::copiedOnly);
            QCOMPARE(WaylandClipboardReader::read(m_kwin->clientEnvironment(), QStringLiteral("text/plain;charset=utf-8")),
                     std::optional<QByteArray>(text.toUtf8()));
        }

        const QByteArray socket = qgetenv("WAYLAND_DISPLAY");
        qputenv("WAYLAND_DISPLAY", "/nonexistent/murlex-no-compositor");
        const auto back = qScopeGuard([&] { qputenv("WAYLAND_DISPLAY", socket); });
        QCOMPARE(Platform::desktopSession().textPath(), DesktopSession::TextPath::clipboardOnly);
        TextInjector injector(TextInjector::Services::system(), 150ms);
        const QString text = QStringLiteral("只能复制");
        QCOMPARE(QCoro::waitFor(injector.inject(text)), Outcome::copiedOnly);
        QTest::qWait(400); // past the restore delay of a paste: nothing comes back
        QCOMPARE(QGuiApplication::clipboard()->text(), text);
    }
};

QTEST_MAIN(TestWaylandKWin)
#include "tst_waylandkwin.moc"
