// test-labels: wayland
// The dictation shortcut through the desktop portal's GlobalShortcuts interface: the real
// xdg-desktop-portal on the harness's session bus with a mock backend (DesktopPortal), the
// shortcut registered through the application's own path (GlobalHotkey, the shortcuts library,
// the platform's portal service), and Activated / Deactivated from the backend pressing and
// letting go of the dictation shortcut (what a press does from there: the hold-to-talk suite).
#include "DesktopPortal.h"
#include "platform/HotKeyService.h"
#include "platform/Platform.h"
#include "shortcuts/CarbonKeyboardShortcuts.h"
#include "shortcuts/GlobalHotkey.h"
#include "shortcuts/KeyboardShortcuts.h"
#include "shortcuts/ModifierFlags.h"

#include <QDBusConnection>
#include <QJsonObject>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QtTest>

using namespace std::chrono_literals;

namespace {
constexpr qint64 kVK_Space = 0x31;
constexpr qint64 kVK_ANSI_A = 0x00;

// Where the portal keeps objects of this connection: <base>/<unique name without ':', '.' as '_'>/...
QString ownPrefix(const QString &base)
{
    QString sender = QDBusConnection::sessionBus().baseService().mid(1);
    return base + u'/' + sender.replace(u'.', u'_') + u'/';
}

std::unique_ptr<HotKeyService> portalService()
{
    return std::unique_ptr<HotKeyService>(Platform::portalHotKeyService(nullptr));
}

// Until the service has bound what is registered; whether that went well.
std::optional<bool> bindOutcome(HotKeyService &service)
{
    QSignalSpy finished(&service, SIGNAL(bindFinished(bool)));
    if (!finished.wait(10000))
        return std::nullopt;
    return finished.first().first().toBool();
}
} // namespace

class TestPortalShortcut : public QObject {
    Q_OBJECT

    DesktopPortal m_portal;

    // Activated or Deactivated for the shortcut in the newest session, as the desktop sends it.
    bool emitSignal(const QString &signal, const QString &id) const { return m_portal.control(QStringLiteral("Emit"), {signal, id}); }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY2(m_portal.startShortcuts(), qPrintable(m_portal.failure()));
    }

    // What the desktop is asked: a session, then the dictation shortcut with its description and
    // the combination as the preferred trigger; a new combination replaces the session, and the
    // last one is closed with the service. The requests are the ones the service followed: their
    // paths are this connection's, made from its tokens. The waits are those of a desktop that
    // may show a confirmation dialog: seconds for a call, minutes for an answer.
    void bindsTheShortcutAndRebindsOnAChange()
    {
        const Platform::PortalTimeouts timeouts;
        QVERIFY(timeouts.call >= 1s && timeouts.call <= 30s);
        QVERIFY(timeouts.answer >= 30s && timeouts.answer <= 10min);
        const int before = int(m_portal.calls().size());
        auto service = portalService();
        QCOMPARE(service->registerHotKey({kVK_Space, HotKeyService::controlKey | HotKeyService::optionKey}, 1),
                 HotKeyService::statusOk);
        // A trial registration, released at once, binds nothing of its own.
        QCOMPARE(service->registerHotKey({kVK_ANSI_A, HotKeyService::controlKey}, 0), HotKeyService::statusOk);
        service->unregisterHotKey(0);
        QCOMPARE(bindOutcome(*service), std::optional(true));

        const QJsonArray calls = m_portal.calls();
        QCOMPARE(calls.size(), before + 2);
        const QJsonObject create = calls.at(before).toObject();
        const QJsonObject bind = calls.at(before + 1).toObject();
        QCOMPARE(create.value(QStringLiteral("method")).toString(), QStringLiteral("CreateSession"));
        QCOMPARE(bind.value(QStringLiteral("method")).toString(), QStringLiteral("BindShortcuts"));
        const QString session = create.value(QStringLiteral("session_handle")).toString();
        QVERIFY2(session.startsWith(ownPrefix(QStringLiteral("/org/freedesktop/portal/desktop/session"))), qPrintable(session));
        const QRegularExpression request(QRegularExpression::escape(ownPrefix(QStringLiteral("/org/freedesktop/portal/desktop/request")))
                                         + QStringLiteral("murlex_\\d+_\\d+$"));
        for (const QString &handle : {create.value(QStringLiteral("handle")).toString(), bind.value(QStringLiteral("handle")).toString()})
            QVERIFY2(request.match(handle).hasMatch(), qPrintable(handle));
        QCOMPARE(bind.value(QStringLiteral("session_handle")).toString(), session);
        QCOMPARE(bind.value(QStringLiteral("parent_window")).toString(), QString());
        QCOMPARE(bind.value(QStringLiteral("shortcuts")).toArray(),
                 (QJsonArray{QJsonArray{QStringLiteral("toggle-dictation"),
                                        QJsonObject{{QStringLiteral("description"), QStringLiteral("开始/结束录音")},
                                                    {QStringLiteral("preferred_trigger"), QStringLiteral("CTRL+ALT+space")}}}}));

        // The person records another shortcut: the old registration goes, the new one comes.
        service->unregisterHotKey(1);
        QCOMPARE(service->registerHotKey({kVK_ANSI_A, HotKeyService::shiftKey | HotKeyService::cmdKey}, 2),
                 HotKeyService::statusOk);
        QCOMPARE(bindOutcome(*service), std::optional(true));
        QTRY_COMPARE(m_portal.calls(QStringLiteral("Session.Close")).size(), 1);
        QCOMPARE(m_portal.calls(QStringLiteral("Session.Close")).last().toObject().value(QStringLiteral("path")).toString(), session);
        const QJsonObject rebind = m_portal.calls(QStringLiteral("BindShortcuts")).last().toObject();
        const QString second = rebind.value(QStringLiteral("session_handle")).toString();
        QVERIFY(second != session);
        QCOMPARE(rebind.value(QStringLiteral("shortcuts")).toArray().at(0).toArray().at(1).toObject().value(
                     QStringLiteral("preferred_trigger")),
                 QJsonValue(QStringLiteral("SHIFT+LOGO+a")));

        // The function key has no counterpart in the portal's syntax.
        QCOMPARE(service->registerHotKey({kVK_Space, HotKeyService::functionKey}, 3), HotKeyService::statusNotRepresentable);

        service.reset();
        QTRY_COMPARE(m_portal.calls(QStringLiteral("Session.Close")).size(), 2);
        QCOMPARE(m_portal.calls(QStringLiteral("Session.Close")).last().toObject().value(QStringLiteral("path")).toString(), second);
    }

    // The dictation shortcut through the application's path, taken first from the display as at
    // start and moved to the portal once the session is known to offer it: Activated presses it,
    // Activated again while held changes nothing, Deactivated lets go; another id of the session
    // is not ours. After a declined binding the backend's signals reach nobody.
    void activatedAndDeactivatedPressAndLetGo()
    {
        using namespace KeyboardShortcuts;
        const std::unique_ptr<HotKeyService> display(Platform::hotKeyService(nullptr));
        QVERIFY(display);
        CarbonKeyboardShortcuts::setService(display.get());
        auto service = portalService();
        setShortcut(Shortcut::fromKey(Key::space, ModifierFlags::control | ModifierFlags::option), GlobalHotkey::toggleDictation());
        GlobalHotkey hotkey;
        int presses = 0, releases = 0;
        hotkey.onTrigger = [&] { ++presses; };
        hotkey.onRelease = [&] { ++releases; };
        const qsizetype bindsBefore = m_portal.calls(QStringLiteral("BindShortcuts")).size();
        hotkey.registerHotkey();
        QTest::qWait(100);
        QCOMPARE(m_portal.calls(QStringLiteral("BindShortcuts")).size(), bindsBefore);
        CarbonKeyboardShortcuts::moveToService(service.get());
        QCOMPARE(bindOutcome(*service), std::optional(true));

        const QString id = QStringLiteral("toggle-dictation");

        // While the tray menu is open the shortcut stays bound (a new binding may bring the
        // desktop's dialog up each time), and what the desktop reports meanwhile starts nothing.
        const auto requests = [this] {
            return m_portal.calls(QStringLiteral("BindShortcuts")).size() + m_portal.calls(QStringLiteral("Session.Close")).size();
        };
        const qsizetype before = requests();
        CarbonKeyboardShortcuts::setMenuOpen(true);
        for (const char *signal : {"Activated", "Deactivated"})
            QVERIFY(emitSignal(QLatin1String(signal), id));
        QTest::qWait(300);
        CarbonKeyboardShortcuts::setMenuOpen(false);
        QTest::qWait(300);
        QCOMPARE(presses + releases, 0);
        QCOMPARE(requests(), before);

        QVERIFY(emitSignal(QStringLiteral("Activated"), id));
        QTRY_COMPARE(presses, 1);
        QVERIFY(emitSignal(QStringLiteral("Activated"), id));
        QTest::qWait(300);
        QCOMPARE(presses, 1);
        QCOMPARE(releases, 0);
        QVERIFY(emitSignal(QStringLiteral("Deactivated"), id));
        QTRY_COMPARE(releases, 1);
        for (const char *signal : {"Activated", "Deactivated"})
            QVERIFY(emitSignal(QLatin1String(signal), QStringLiteral("something-else")));

        // Declined: no shortcut is bound, and the backend's signals start nothing.
        QVERIFY(m_portal.control(QStringLiteral("SetBindResponse"), {1u}));
        setShortcut(Shortcut::fromKey(Key::d, ModifierFlags::control), GlobalHotkey::toggleDictation());
        QCOMPARE(bindOutcome(*service), std::optional(false));
        QVERIFY(m_portal.control(QStringLiteral("SetBindResponse"), {0u}));
        QVERIFY(emitSignal(QStringLiteral("Activated"), id));
        QTest::qWait(300);
        QCOMPARE(presses, 1);
        QCOMPARE(releases, 1);

        hotkey.unregisterHotkey();
        CarbonKeyboardShortcuts::setService(nullptr);
    }
};

QTEST_MAIN(TestPortalShortcut)
#include "tst_portal_shortcut.moc"
