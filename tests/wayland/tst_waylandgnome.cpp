// test-labels: wayland
// Murlex under GNOME Wayland: mutter 43 headless (with XWayland, on a bus of its own), the real
// desktop portal with a RemoteDesktop backend that presses keys through mutter's own
// remote-desktop interface, as GNOME's backend does. Murlex runs on XWayland (another process, as
// the application does), a native Wayland Qt field receives the text.
#include "core/AppIdentity.h"
#include "platform/Platform.h"
#include "platform/SecretStore.h"

#include "ExternalTool.h"
#include "HelperProcess.h"
#include "MutterSession.h"
#include "NotificationRecorder.h"
#include "DesktopPortal.h"
#include "WaylandClipboardReader.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QJsonObject>
#include <QtTest>

#include <memory>

namespace {

const QString tokenAccount = QStringLiteral("remote_desktop_restore_token");

// Murlex's side of a dictation, ended as the application ends (closing its stdin).
std::unique_ptr<HelperProcess> dictation(const MutterSession &mutter, const QStringList &texts)
{
    return std::make_unique<HelperProcess>(QStringLiteral("injection_probe"), QStringList{"--probe", "--serve"} + texts, mutter.xwaylandClient(),
                                           QProcess::MergedChannels);
}

void quit(HelperProcess &helper)
{
    helper.process().closeWriteChannel();
    QVERIFY(helper.process().waitForFinished(10000));
}

QStringList keycodes(const QJsonArray &calls)
{
    QStringList keys;
    for (const QJsonValue &call : calls)
        keys << (call[QStringLiteral("state")].toInt() ? QStringLiteral("+") : QStringLiteral("-")) +
                    QString::number(call[QStringLiteral("keycode")].toInt());
    return keys;
}

} // namespace

class TestWaylandGnome : public QObject {
    Q_OBJECT

    std::unique_ptr<MutterSession> m_mutter;
    SecretStore *m_secrets = nullptr;

private Q_SLOTS:
    void initTestCase()
    {
        m_mutter = std::make_unique<MutterSession>();
        QVERIFY2(m_mutter->isUp(), qPrintable(m_mutter->failure()));
        m_secrets = &Platform::secretStore();
        m_secrets->remove(QLatin1String(AppIdentity::bundleIdentifier), tokenAccount);
    }

    // A portal whose RemoteDesktop offers restore tokens (version 2; the installed 1.16 has
    // version 1, so a stand-in of the portal itself): the first run asks for persistence and keeps
    // the token in the secret store, the next run hands it back (on a desktop, no dialog then) and
    // keeps the new one; the token is never logged whole.
    void restoreTokenIsKeptAndHandedBack()
    {
        DesktopPortal frontend;
        QVERIFY2(frontend.start({}, QStringLiteral("portal_clipboard_frontend.py"),
                                {{QStringLiteral("clipboard"), false}, {QStringLiteral("version"), 2}}),
                 qPrintable(frontend.failure()));

        QStringList tokens;
        for (int run = 1; run <= 2; ++run) {
            auto murlex = dictation(*m_mutter, {QStringLiteral("你好")});
            QVERIFY2(murlex->waitForLine(QStringLiteral("done"), 30000),
                     qPrintable(murlex->lines().join(u'\n') + frontend.output()));
            QCOMPARE(murlex->linesStartingWith(QStringLiteral("inject ")), QStringList{QStringLiteral("true")});
            const std::optional<QByteArray> token = m_secrets->read(QLatin1String(AppIdentity::bundleIdentifier), tokenAccount);
            QCOMPARE(token, std::optional<QByteArray>(QByteArrayLiteral("murlex-restore-") + QByteArray::number(run)));
            QVERIFY(murlex->lines().filter(QString::fromUtf8(*token)).isEmpty());
            quit(*murlex);
            tokens << QString::fromUtf8(*token);
        }
        const QJsonArray selected = frontend.calls(QStringLiteral("SelectDevices"));
        QCOMPARE(selected.size(), 2);
        for (const QJsonValue &options : selected) {
            QCOMPARE(options[QStringLiteral("types")].toInt(), 1);
            QCOMPARE(options[QStringLiteral("persist_mode")].toInt(), 2);
        }
        QVERIFY(selected[0][QStringLiteral("restore_token")].isNull());
        QCOMPARE(selected[1][QStringLiteral("restore_token")].toString(), tokens[0]);
        m_secrets->remove(QLatin1String(AppIdentity::bundleIdentifier), tokenAccount);
    }

    void cleanupTestCase() { m_mutter.reset(); }

    // The first dictation asks the desktop once, for the keyboard only; Chinese text arrives in the
    // native field through XWayland's clipboard and key-code Control+V, and the clipboard then holds
    // again what another program had put there. The portal (1.16: RemoteDesktop version 1) offers
    // no restore token, so none is asked for or kept. Quitting closes the session. Then a declined
    // dialog: the text stays on the clipboard, the injection says so, the person is told once, and
    // the next dictation of the run does not ask again.
    void aDictationAsksOnceAndPastesOrLeavesTheTextOnTheClipboard()
    {
        QTRY_VERIFY_WITH_TIMEOUT(!QDBusConnection::sessionBus().interface()->isServiceRegistered(
                                     QStringLiteral("org.freedesktop.portal.Desktop")),
                                 10000);
        DesktopPortal portal;
        QVERIFY2(portal.start(QStringLiteral("RemoteDesktop"), QStringLiteral("portal_remote_desktop_backend.py"),
                                  {{QStringLiteral("mutter_bus"), m_mutter->busAddress()}}),
                 qPrintable(portal.failure()));
        const QProcessEnvironment xwayland = m_mutter->xwaylandClient();
        const QByteArray previous = QStringLiteral("原来的内容").toUtf8();
        const auto owner = HelperProcess::clipboardOwner({{QStringLiteral("text/plain;charset=utf-8"), previous}}, xwayland);
        QVERIFY(owner);
        HelperProcess field(QStringLiteral("injection_target"), {}, m_mutter->waylandClient());
        QVERIFY2(field.waitForLine(QStringLiteral("active"), 20000), qPrintable(field.lines().join(u'\n')));

        const QString text = QStringLiteral("你好，世界！语音输入。");
        auto murlex = dictation(*m_mutter, {text, QStringLiteral("再来一次")});
        QVERIFY2(murlex->waitForLine(QStringLiteral("done"), 30000), qPrintable(murlex->lines().join(u'\n')));
        QCOMPARE(murlex->linesStartingWith(QStringLiteral("inject ")), (QStringList{QStringLiteral("true"), QStringLiteral("true")}));
        const QStringList probe = murlex->lines().filter(QStringLiteral("desktop session Wayland"));
        QCOMPARE(probe.size(), 1);
        QVERIFY2(probe[0].endsWith(QLatin1String("text via X11 clipboard + RemoteDesktop portal keys")), qPrintable(probe[0]));

        QCOMPARE(field.textAfterChange(2), text + QStringLiteral("再来一次"));
        QCOMPARE(field.linesStartingWith(QStringLiteral("key ")), (QStringList{QStringLiteral("Ctrl+V"), QStringLiteral("Ctrl+V")}));
        const QStringList chord{QStringLiteral("+29"), QStringLiteral("+47"), QStringLiteral("-47"), QStringLiteral("-29")};
        QCOMPARE(keycodes(portal.calls(QStringLiteral("NotifyKeyboardKeycode"))), chord + chord);
        const QJsonArray selected = portal.calls(QStringLiteral("SelectDevices"));
        QCOMPARE(selected.size(), 1);
        QCOMPARE(selected[0][QStringLiteral("types")].toInt(), 1);
        QCOMPARE(selected[0][QStringLiteral("persist_mode")].toInt(), 0);
        QCOMPARE(portal.calls(QStringLiteral("Start")).size(), 1);

        QCOMPARE(murlex->linesStartingWith(QStringLiteral("restored")).size(), 2);
        // As a Wayland application sees it, through mutter's mirror.
        QCOMPARE(WaylandClipboardReader::read(m_mutter->waylandClient(), QStringLiteral("text/plain;charset=utf-8")),
                 std::optional<QByteArray>(previous));
        QVERIFY(!m_secrets->read(QLatin1String(AppIdentity::bundleIdentifier), tokenAccount));

        quit(*murlex);
        QTRY_COMPARE(portal.calls(QStringLiteral("Session.Close")).size(), 1);

        QVERIFY(portal.control(QStringLiteral("SetStartResponse"), {1u}));
        NotificationRecorder notifications;
        QVERIFY(notifications.start());
        murlex = dictation(*m_mutter, {QStringLiteral("第一句"), QStringLiteral("第二句")});
        QVERIFY2(murlex->waitForLine(QStringLiteral("done"), 30000), qPrintable(murlex->lines().join(u'\n')));
        QCOMPARE(murlex->linesStartingWith(QStringLiteral("inject ")), (QStringList{QStringLiteral("copied"), QStringLiteral("copied")}));
        QCOMPARE(portal.calls(QStringLiteral("Start")).size(), 2);
        QCOMPARE(portal.calls(QStringLiteral("NotifyKeyboardKeycode")).size(), chord.size() * 2);
        QCOMPARE(ExternalTool::run(QStringLiteral("xclip"), {"-o", "-selection", "clipboard", "-t", "UTF8_STRING"}, 5000,
                                   m_mutter->xwaylandClient()),
                 std::optional(QStringLiteral("第二句").toUtf8()));
        QTRY_COMPARE(notifications.received().size(), 1);
        QVERIFY(notifications.received()[0].body.contains(QStringLiteral("Ctrl+V")));
        QVERIFY(!m_secrets->read(QLatin1String(AppIdentity::bundleIdentifier), tokenAccount));
        quit(*murlex);
    }
};

QTEST_MAIN(TestWaylandGnome)
#include "tst_waylandgnome.moc"
