// test-labels: wayland
// The clipboard through the desktop portal's Clipboard interface (GNOME 45 and later), on the
// RemoteDesktop session that also presses the paste chord. Debian 12's portal (1.16) lacks the
// interface, so a stand-in of the portal frontend holds the clipboard in memory and moves every
// byte through real pipes (tests/support/portal_clipboard_frontend.py); XWayland's clipboard is the
// harness's X server, with another process owning it.
#include "platform/Clipboard.h"
#include "platform/KeySynthesis.h"
#include "platform/Platform.h"

#include "DesktopPortal.h"
#include "HelperProcess.h"
#include "LogCapture.h"

#include <QClipboard>
#include <QCoroTask>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusPendingCall>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QMimeData>
#include <QRandomGenerator>
#include <QtTest>

using namespace std::chrono_literals;

namespace {

const QString utf8Text = QStringLiteral("text/plain;charset=utf-8");

QDBusPendingCall control(const QString &method, const QVariantList &arguments = {})
{
    QDBusMessage call = QDBusMessage::createMethodCall(QStringLiteral("org.freedesktop.portal.Desktop"),
                                                       QStringLiteral("/org/freedesktop/portal/desktop"),
                                                       QStringLiteral("org.murlex.test.PortalBackend"), method);
    call.setArguments(arguments);
    return QDBusConnection::sessionBus().asyncCall(call, 10000);
}

// The reply, the event loop running meanwhile (we may be the one who has to answer).
std::optional<QDBusMessage> finished(const QDBusPendingCall &call)
{
    if (!QTest::qWaitFor([&] { return call.isFinished(); }, 15000) || call.isError())
        return std::nullopt;
    return call.reply();
}

// Another application copies `formats` (and `stalled` types whose data never comes).
bool otherApplicationCopies(const ClipboardSnapshot &formats, const QStringList &stalled = {})
{
    QStringList types, contents;
    for (const ClipboardFormat &format : formats) {
        types << format.mimeType;
        contents << QString::fromLatin1(format.data.toBase64());
    }
    return finished(control(QStringLiteral("Own"), {types, contents, stalled})).has_value();
}

// What a reader gets when it pastes `mimeType`; none when the transfer failed.
std::optional<QByteArray> paste(const QString &mimeType)
{
    const std::optional<QDBusMessage> reply = finished(control(QStringLiteral("Paste"), {mimeType}));
    return reply ? std::optional(reply->arguments().value(0).toByteArray()) : std::nullopt;
}

// The types the clipboard offers, when our session owns it.
std::optional<QStringList> ownSelection()
{
    const std::optional<QDBusMessage> reply = finished(control(QStringLiteral("Selection")));
    if (!reply || !reply->arguments().value(0).toBool())
        return std::nullopt;
    return reply->arguments().value(1).toStringList();
}

QStringList methods(const QJsonArray &calls)
{
    QStringList names;
    for (const QJsonValue &call : calls)
        names << call[QStringLiteral("method")].toString();
    return names;
}

QByteArray xClipboard(const QString &mimeType)
{
    const QMimeData *data = QGuiApplication::clipboard()->mimeData(QClipboard::Clipboard);
    return data ? data->data(mimeType) : QByteArray();
}

} // namespace

class TestPortalClipboard : public QObject {
    Q_OBJECT

    std::unique_ptr<DesktopPortal> m_portal;

    bool startPortal(const QJsonObject &parameters = {})
    {
        m_portal.reset();
        if (!QTest::qWaitFor([] { return !QDBusConnection::sessionBus().interface()->isServiceRegistered(
                                      QStringLiteral("org.freedesktop.portal.Desktop")); }, 10000))
            return false;
        m_portal = std::make_unique<DesktopPortal>();
        return m_portal->start({}, QStringLiteral("portal_clipboard_frontend.py"), parameters);
    }

    // The clipboard and the paste chord's keys as the application gets them in a GNOME session,
    // sharing the process's one RemoteDesktop session, which the keys start.
    struct Services {
        std::unique_ptr<Clipboard> clipboard = Platform::clipboard();
        std::unique_ptr<KeySynthesis> keys = Platform::keySynthesis();
    };
    static bool startSession(Services &services)
    {
        QCoro::waitFor(services.keys->prepare());
        return services.keys->reachesFocusedApplication();
    }

private Q_SLOTS:
    // A Wayland session without the compositor's protocols, as GNOME's; Qt itself stays on the
    // harness's X server, which plays XWayland.
    void initTestCase() { qputenv("XDG_SESSION_TYPE", "wayland"); }
    void cleanup() { m_portal.reset(); }

    // One dialog asks for the keys and the clipboard (clipboard access is requested before the
    // session starts). The snapshot holds every format the other application offered, byte-exact,
    // a large one included; the dictated text (Chinese, an emoji) is what a reader gets; the
    // restore offers the snapshot's formats again and serves them byte-exact, and a snapshot taken
    // while we own the clipboard comes from memory, not from asking ourselves through the portal.
    void aDictationGoesThroughThePortalsClipboard()
    {
        QVERIFY2(startPortal(), qPrintable(m_portal->failure()));
        QByteArray image(200 * 1024, Qt::Uninitialized);
        QRandomGenerator(7).fillRange(reinterpret_cast<quint32 *>(image.data()), image.size() / 4);
        const ClipboardSnapshot previous{{utf8Text, QStringLiteral("原来的内容").toUtf8()},
                                         {QStringLiteral("text/html"), QStringLiteral("<p>原来的<b>内容</b></p>").toUtf8()},
                                         {QStringLiteral("image/png"), image}};
        Services services;
        QVERIFY(startSession(services));
        QCOMPARE(methods(m_portal->calls()),
                 (QStringList{"CreateSession", "SelectDevices", "RequestClipboard", "Start"}));
        QVERIFY(otherApplicationCopies(previous));

        const ClipboardSnapshot snapshot = services.clipboard->snapshot();
        QCOMPARE(snapshot, previous);

        const QString text = QStringLiteral("你好，世界！🎤 语音输入。");
        services.clipboard->setTransientText(text);
        const std::optional<QStringList> offered = ownSelection();
        QVERIFY(offered);
        QVERIFY(offered->contains(utf8Text) && offered->contains(QStringLiteral("UTF8_STRING")));
        QCOMPARE(paste(utf8Text), std::optional(text.toUtf8()));
        QCOMPARE(paste(QStringLiteral("UTF8_STRING")), std::optional(text.toUtf8()));
        QVERIFY(!paste(QStringLiteral("image/jpeg")));
        services.keys->sendPasteChord(KeySynthesis::PasteChord::standard);
        QTRY_COMPARE(m_portal->calls(QStringLiteral("NotifyKeyboardKeycode")).size(), 4);

        services.clipboard->restore(snapshot);
        QCOMPARE(ownSelection(), std::optional(QStringList{utf8Text, QStringLiteral("text/html"), QStringLiteral("image/png")}));
        QCOMPARE(paste(QStringLiteral("image/png")), std::optional(image));
        QCOMPARE(paste(QStringLiteral("text/html")), std::optional(previous[1].data));

        const qsizetype reads = m_portal->calls(QStringLiteral("SelectionRead")).size();
        QCOMPARE(services.clipboard->snapshot(), previous);
        QCOMPARE(m_portal->calls(QStringLiteral("SelectionRead")).size(), reads);
        services.clipboard->restore({});
        QCOMPARE(ownSelection(), std::optional(QStringList{}));
        QCOMPARE(m_portal->calls(QStringLiteral("Start")).size(), 1);
    }

    // A portal before 1.17 has no Clipboard interface: nothing is asked of it, and the clipboard
    // is XWayland's throughout, as before.
    void withoutTheInterfaceTheClipboardIsXWaylands()
    {
        QVERIFY2(startPortal({{QStringLiteral("clipboard"), false}}), qPrintable(m_portal->failure()));
        const QByteArray html = QStringLiteral("<b>X11 的内容</b>").toUtf8();
        const auto owner = HelperProcess::clipboardOwner({{QStringLiteral("text/html"), html}});
        QVERIFY(owner);
        QVERIFY(otherApplicationCopies({{utf8Text, QByteArrayLiteral("portal")}}));

        Services services;
        QVERIFY(startSession(services));
        const ClipboardSnapshot snapshot = services.clipboard->snapshot();
        QVERIFY(snapshot.contains(ClipboardFormat{QStringLiteral("text/html"), html}));
        services.clipboard->setTransientText(QStringLiteral("只走 XWayland"));
        QCOMPARE(QGuiApplication::clipboard()->text(), QStringLiteral("只走 XWayland"));
        services.clipboard->restore(snapshot);
        QCOMPARE(xClipboard(QStringLiteral("text/html")), html);
        QCOMPARE(methods(m_portal->calls()), (QStringList{"CreateSession", "SelectDevices", "Start"}));
    }

    // Every wait is bounded by its real value. An owner that never writes one of its formats
    // costs the read bound (about a second) and that format; a portal that stops answering costs
    // the call bound (half a second), once: that dictation's snapshot, text and restore go through
    // XWayland with one log line, and the next dictation uses the portal again.
    void waitsAreBoundedAndASilentPortalCostsOneDictation()
    {
        QVERIFY2(startPortal(), qPrintable(m_portal->failure()));
        // XWayland's clipboard belongs to another application, as it would on a desktop.
        const QByteArray html = QStringLiteral("<b>X11 的内容</b>").toUtf8();
        auto owner = HelperProcess::clipboardOwner({{QStringLiteral("text/html"), html}});
        QVERIFY(owner);
        QTRY_VERIFY(!QGuiApplication::clipboard()->ownsClipboard());
        const Platform::PortalClipboardBounds bounds;
        const ClipboardFormat readable{utf8Text, QStringLiteral("可读的部分").toUtf8()};
        QVERIFY(otherApplicationCopies({readable}, {QStringLiteral("image/png")}));
        Services services;
        QVERIFY(startSession(services));

        QElapsedTimer elapsed;
        elapsed.start();
        QCOMPARE(services.clipboard->snapshot(), ClipboardSnapshot{readable});
        QVERIFY2(elapsed.elapsed() >= bounds.read.count() - 50 && elapsed.elapsed() < 3 * bounds.read.count(),
                 qPrintable(QString::number(elapsed.elapsed())));
        services.clipboard->restore({});

        QVERIFY(otherApplicationCopies({readable}));
        QVERIFY(finished(control(QStringLiteral("SetSilent"), {true})));
        const qsizetype sets = m_portal->calls(QStringLiteral("SetSelection")).size();
        LogCapture log;
        elapsed.restart();
        const ClipboardSnapshot snapshot = services.clipboard->snapshot();
        QVERIFY2(elapsed.elapsed() >= bounds.call.count() - 50 && elapsed.elapsed() < 4 * bounds.call.count(),
                 qPrintable(QString::number(elapsed.elapsed())));
        QVERIFY(snapshot.contains(ClipboardFormat{QStringLiteral("text/html"), html}));
        services.clipboard->setTransientText(QStringLiteral("回退到 XWayland"));
        QCOMPARE(QGuiApplication::clipboard()->text(), QStringLiteral("回退到 XWayland"));
        services.clipboard->restore(snapshot);
        QCOMPARE(xClipboard(QStringLiteral("text/html")), html);
        QCOMPARE(m_portal->calls(QStringLiteral("SetSelection")).size(), sets);
        QCOMPARE(log.messages(QStringLiteral("injection"), QtWarningMsg).filter(QStringLiteral("goes through XWayland")).size(), 1);

        // The next dictation, once another application has copied again.
        QVERIFY(finished(control(QStringLiteral("SetSilent"), {false})));
        owner = HelperProcess::clipboardOwner({{QStringLiteral("text/html"), html}});
        QVERIFY(owner);
        QTRY_VERIFY(!QGuiApplication::clipboard()->ownsClipboard());
        QVERIFY(otherApplicationCopies({readable}));
        QCOMPARE(services.clipboard->snapshot(), ClipboardSnapshot{readable});
        services.clipboard->setTransientText(QStringLiteral("又回到门户"));
        QCOMPARE(paste(utf8Text), std::optional(QStringLiteral("又回到门户").toUtf8()));
        QCOMPARE(log.messages(QStringLiteral("injection"), QtWarningMsg).filter(QStringLiteral("goes through XWayland")).size(), 1);
    }
};

QTEST_MAIN(TestPortalClipboard)
#include "tst_portal_clipboard.moc"
