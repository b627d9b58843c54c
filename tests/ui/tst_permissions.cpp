// test-labels: desktop
// What the system allows Murlex to do, read and asked through the same services the capture engine
// and the injector use: the harness's microphone (the PulseAudio pipe source), the X server's
// XTEST extension, the desktop's notification service on the session bus, and the settings tools
// a desktop installs (small stand-in programs on PATH here).
#include "LogCapture.h"
#include "NotificationRecorder.h"
#include "PipeSource.h"
#include "platform/Platform.h"
#include "ui/PermissionChecker.h"

#include <QDir>
#include <QFile>
#include <QScopeGuard>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

namespace {
// A display no X server answers on.
const QByteArray missingDisplay = ":97";

struct Answer {
    std::optional<MicStatus> status;
    bool onMainThread = false;
};
} // namespace

class TestPermissions : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;
    QByteArray m_path;

    PermissionChecker::Services platform(const QString &settingsName, const QByteArray &display = {})
    {
        PermissionChecker::Services p;
        p.microphone = Platform::microphonePermission(
            Platform::audioSystem(),
            std::make_unique<QSettings>(m_dir.filePath(settingsName + QStringLiteral(".ini")), QSettings::IniFormat));
        p.keys = Platform::keySynthesis(display);
        p.notifications = Platform::desktopNotifications();
        p.settings = Platform::systemSettings();
        return p;
    }

    static Answer request(PermissionChecker &checker)
    {
        auto answer = std::make_shared<Answer>();
        bool returned = false;
        checker.requestMicrophone([answer, &returned](MicStatus status) {
            // The completion never runs inside the request call itself.
            answer->status = returned ? std::optional(status) : std::nullopt;
            answer->onMainThread = QThread::currentThread() == QCoreApplication::instance()->thread();
        });
        returned = true;
        [[maybe_unused]] const bool answered = QTest::qWaitFor([&] { return answer->status.has_value(); }, 10000);
        return *answer;
    }

    // A settings tool: a script that notes how it was started in the file $MURLEX_SETTINGS_LOG.
    void addTool(const QString &name, const QByteArray &interpreter = "/bin/sh")
    {
        const QString path = m_dir.filePath(QStringLiteral("bin/") + name);
        QFile script(path);
        QVERIFY(script.open(QIODevice::WriteOnly));
        script.write("#!" + interpreter + "\necho \"${0##*/} $*\" >> \"$MURLEX_SETTINGS_LOG\"\n");
        script.close();
        QVERIFY(script.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
    }

    QStringList started() const
    {
        QFile log(m_dir.filePath(QStringLiteral("settings.log")));
        if (!log.open(QIODevice::ReadOnly))
            return {};
        return QString::fromUtf8(log.readAll()).split(u'\n', Qt::SkipEmptyParts);
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        QVERIFY2(!PipeSource::fifoPath().isEmpty(), "no pipe source: run the tests through scripts/harness.sh");
        QVERIFY(QDir().mkpath(m_dir.filePath(QStringLiteral("bin"))));
        m_path = qgetenv("PATH");
        qputenv("MURLEX_SETTINGS_LOG", m_dir.filePath(QStringLiteral("settings.log")).toUtf8());
    }

    void cleanup()
    {
        qputenv("PATH", m_path);
        qunsetenv("XDG_CURRENT_DESKTOP");
    }

    void theMicrophoneRequestAnswersOnTheMainThreadWithTheStatusReadAfterIt()
    {
        PermissionChecker checker(platform(QStringLiteral("microphone")));
        QCOMPARE(checker.micStatus(), MicStatus::undetermined);

        const Answer granted = request(checker);
        QCOMPARE(granted.status, std::optional(MicStatus::granted));
        QVERIFY(granted.onMainThread);
        QCOMPARE(checker.micStatus(), MicStatus::granted);

        // The microphone goes away (unplugged): the same question is now answered "denied".
        QVERIFY(PipeSource::unload());
        const auto restore = qScopeGuard([] { PipeSource::load(); });
        const Answer denied = request(checker);
        QCOMPARE(denied.status, std::optional(MicStatus::denied));
        QVERIFY(denied.onMainThread);
    }

    void accessibilityIsTheXTestExtensionAndItsPromptANotification()
    {
        NotificationRecorder service;
        QVERIFY2(service.start(), "cannot own org.freedesktop.Notifications on the session bus");

        PermissionChecker trusted(platform(QStringLiteral("trusted")));
        QVERIFY(trusted.isAccessibilityTrusted());
        PermissionChecker untrusted(platform(QStringLiteral("untrusted"), missingDisplay));
        QVERIFY(!untrusted.isAccessibilityTrusted());

        // Where trusted nothing is shown; the untrusted prompt after it is the only notification
        // (both go out on the same connection, in order).
        trusted.promptAccessibility();
        untrusted.promptAccessibility();
        QTRY_COMPARE(service.received().size(), 1);
        const auto notice = service.received().first();
        QCOMPARE(notice.appName, QStringLiteral("Murlex"));
        QCOMPARE(notice.appIcon, QStringLiteral("quillfen.MurlexMac"));
        QCOMPARE(notice.hints.value(QStringLiteral("desktop-entry")).toString(), QStringLiteral("quillfen.MurlexMac"));
        QCOMPARE(notice.summary, PermissionChecker::accessibilityNoticeSummary());
        QVERIFY(notice.body.contains(QStringLiteral("X11")) && notice.body.contains(QStringLiteral("XTEST")));
        QTest::qWait(200);
        QCOMPARE(service.received().size(), 1);
    }

    void aMissingNotificationServiceIsLoggedOnly()
    {
        LogCapture log;
        PermissionChecker untrusted(platform(QStringLiteral("unserved"), missingDisplay));
        untrusted.promptAccessibility();
        QTRY_VERIFY(!log.messages(QStringLiteral("app"), QtWarningMsg).filter(QStringLiteral("desktop notification not shown")).isEmpty());
    }

    void settingsOpenTheDesktopsOwnToolWhereOneIsInstalled()
    {
        qputenv("PATH", m_dir.filePath(QStringLiteral("bin")).toUtf8());
        PermissionChecker checker(platform(QStringLiteral("settings")));
        LogCapture log;

        // Nothing installed: nothing happens, and nothing is shown.
        checker.openMicrophoneSettings();
        checker.openAccessibilitySettings();
        QVERIFY(log.messages(QStringLiteral("app"), QtWarningMsg).isEmpty());

        addTool(QStringLiteral("pavucontrol"));
        addTool(QStringLiteral("gnome-control-center"));
        addTool(QStringLiteral("systemsettings"));
        qputenv("XDG_CURRENT_DESKTOP", "ubuntu:GNOME");
        checker.openMicrophoneSettings();
        QTRY_COMPARE(started(), QStringList{QStringLiteral("gnome-control-center sound")});
        qputenv("XDG_CURRENT_DESKTOP", "KDE");
        checker.openMicrophoneSettings();
        checker.openAccessibilitySettings();
        QTRY_COMPARE(started().size(), 3);
        QCOMPARE(started().mid(1), (QStringList{QStringLiteral("systemsettings kcm_pulseaudio"), QStringLiteral("systemsettings kcm_access")}));

        // A desktop with neither: the PulseAudio volume control on its input tab, and no
        // accessibility tool at all.
        QVERIFY(QFile::remove(m_dir.filePath(QStringLiteral("bin/gnome-control-center"))));
        QVERIFY(QFile::remove(m_dir.filePath(QStringLiteral("bin/systemsettings"))));
        qputenv("XDG_CURRENT_DESKTOP", "XFCE");
        checker.openMicrophoneSettings();
        QTRY_COMPARE(started().size(), 4);
        QCOMPARE(started().last(), QStringLiteral("pavucontrol --tab=4"));
        checker.openAccessibilitySettings();
        QTest::qWait(300);
        QCOMPARE(started().size(), 4);

        // A tool that cannot be started is logged, never shown.
        addTool(QStringLiteral("gnome-control-center"), "/nonexistent/interpreter");
        qputenv("XDG_CURRENT_DESKTOP", "GNOME");
        checker.openAccessibilitySettings();
        QVERIFY(log.contains(QStringLiteral("app"), QtWarningMsg,
                             QStringLiteral("could not start %1 for the accessibility settings")
                                 .arg(m_dir.filePath(QStringLiteral("bin/gnome-control-center")))));
        QCOMPARE(started().size(), 4);
    }
};

QTEST_MAIN(TestPermissions)
#include "tst_permissions.moc"
