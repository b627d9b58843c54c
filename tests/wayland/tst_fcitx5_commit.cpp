// test-labels: wayland
// Text committed through Fcitx5: the real fcitx5 on the harness's display and session bus, with
// Murlex's module loaded from the build tree (or from an installed tree), the plain US keyboard as
// its only input method, text fields that use Fcitx5's Qt input module or do not, and the injector
// on this platform's services.
#include "core/LeadingCharacters.h"
#include "injection/TextInjector.h"
#include "platform/InputMethodCommit.h"
#include "platform/Platform.h"

#include "ExternalTool.h"
#include "FocusedField.h"
#include "LogCapture.h"
#include "WaylandClipboardReader.h"
#include "WaylandCompositor.h"

#include <QApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDir>
#include <QElapsedTimer>
#include <QScopeGuard>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>
#include <memory>

using namespace std::chrono_literals;

namespace {

const QString fcitxService = QStringLiteral("org.fcitx.Fcitx5");
const QString buildDir = QDir::cleanPath(QStringLiteral(MURLEX_TEST_HELPERS_DIR "/.."));

QString pkgConfigVariable(const QString &variable)
{
    return QString::fromUtf8(
        ExternalTool::run(QStringLiteral("pkg-config"), {QStringLiteral("--variable=") + variable, QStringLiteral("Fcitx5Core")})
            .value_or(QByteArray())).trimmed();
}

bool fcitxOnBus()
{
    return QDBusConnection::sessionBus().interface()->isServiceRegistered(fcitxService);
}

// fcitx5 on the harness's display and bus with the plain US keyboard as its only input method and
// only the addons a text field needs (plus Murlex's module where it is found); its configuration in
// a directory of its own. Stopped when destroyed (cleanup() waits until its name has left the bus).
class Fcitx5 {
public:
    // Murlex's module from the build tree, or without one, from what a desktop's XDG_DATA_DIRS
    // shows it (an installed Murlex).
    explicit Fcitx5(const QString &dataDirs = {})
    {
        const QString profile = QStringLiteral("[Groups/0]\nName=Default\nDefault Layout=us\nDefaultIM=keyboard-us\n\n"
                                               "[Groups/0/Items/0]\nName=keyboard-us\nLayout=\n\n[GroupOrder]\n0=Default\n");
        QFile file(m_config.filePath(QStringLiteral("profile")));
        if (!file.open(QIODevice::WriteOnly) || file.write(profile.toUtf8()) != profile.toUtf8().size())
            return;
        file.close();

        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("FCITX_CONFIG_HOME"), m_config.path());
        if (dataDirs.isEmpty()) {
            env.insert(QStringLiteral("FCITX_ADDON_DIRS"), buildDir + QStringLiteral("/fcitx5/lib:")
                                                               + pkgConfigVariable(QStringLiteral("libdir")) + QStringLiteral("/fcitx5"));
            env.insert(QStringLiteral("FCITX_DATA_DIRS"), buildDir + QStringLiteral("/fcitx5/share:")
                                                              + pkgConfigVariable(QStringLiteral("prefix")) + QStringLiteral("/share/fcitx5"));
        } else {
            env.insert(QStringLiteral("XDG_DATA_DIRS"), dataDirs);
        }
        m_process = std::make_unique<HelperProcess>(
            QStandardPaths::findExecutable(QStringLiteral("fcitx5")),
            QStringList{QStringLiteral("--disable=all"),
                        QStringLiteral("--enable=dbus,dbusfrontend,xcb,keyboard,murlexcommit")},
            env, QProcess::MergedChannels);
    }

    // Once fcitx5 has its bus name and its input methods.
    bool ready()
    {
        return m_process && QTest::qWaitFor([this] { return fcitxOnBus() && debugInfo().contains(QLatin1String("Group")); }, 15000);
    }

    // Fcitx5's own account of its input contexts, one line each ("IC [...] program:... focus:1").
    QString debugInfo() const
    {
        const QDBusMessage reply = QDBusConnection::sessionBus().call(QDBusMessage::createMethodCall(
            fcitxService, QStringLiteral("/controller"), QStringLiteral("org.fcitx.Fcitx.Controller1"), QStringLiteral("DebugInfo")));
        return reply.type() == QDBusMessage::ReplyMessage ? reply.arguments().value(0).toString() : QString();
    }

    // Until an input context of `program` has the focus, or none of any program has it (empty).
    bool waitForFocus(const QString &program)
    {
        return QTest::qWaitFor([&] {
            const QStringList lines = debugInfo().split(u'\n');
            for (const QString &line : lines)
                if (line.contains(QLatin1String("focus:1")))
                    return !program.isEmpty() && line.contains(QStringLiteral("program:") + program);
            return program.isEmpty();
        }, 10000);
    }

    QString log() const { return m_process ? m_process->lines().join(u'\n') : QString(); }

private:
    QTemporaryDir m_config;
    std::unique_ptr<HelperProcess> m_process;
};

// A text field shown and focused, using the Qt input module given; the input method's context may
// be set up after the window took the focus, so a field using Fcitx5 takes it again a moment later.
std::unique_ptr<HelperProcess> fieldUsing(const QString &inputModule)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_IM_MODULE"), inputModule);
    return focusedField(inputModule == QLatin1String("fcitx") ? QStringList{QStringLiteral("--refocus")} : QStringList{}, env);
}

} // namespace

class TestFcitx5Commit : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY2(QGuiApplication::platformName() == QStringLiteral("xcb"), "run the tests through scripts/harness.sh");
        QVERIFY2(!QStandardPaths::findExecutable(QStringLiteral("fcitx5")).isEmpty(), "fcitx5 is missing: scripts/install-deps.sh");
        QVERIFY2(QFile::exists(buildDir + QStringLiteral("/fcitx5/lib/libmurlexcommit.so")), "build the murlexcommit target");
        QVERIFY(!fcitxOnBus());
    }

    void cleanup()
    {
        QTRY_VERIFY_WITH_TIMEOUT(!fcitxOnBus(), 5000);
    }

    // Exact Unicode (a combining accent, a joined emoji, CJK punctuation) reaches a field that uses
    // the input method, with no key event and the clipboard as it was; two injections asked for
    // back to back arrive in their order. A field focused next that does not use Fcitx5: the module
    // says so and the text takes the clipboard path into that field, not into the first one.
    void committedTextArrivesExactlyAndAFieldWithoutTheInputMethodGetsThePaste()
    {
        // Made before Fcitx5 runs (a desktop may start Murlex first): it learns of Fcitx5 from the bus.
        TextInjector injector(TextInjector::Services::system());
        Fcitx5 fcitx;
        QVERIFY2(fcitx.ready(), qPrintable(fcitx.log()));
        const auto owner = HelperProcess::clipboardOwner({{QStringLiteral("text/plain"), QStringLiteral("剪贴板原文").toUtf8()},
                                                          {QStringLiteral("application/x-murlex-blob"), QByteArray("\x00\xff\x01murlex\x00", 10)}});
        QVERIFY(owner);
        const QMap<QString, QByteArray> before = ExternalTool::xClipboard();
        QCOMPARE(before.value(QStringLiteral("application/x-murlex-blob")), QByteArray("\x00\xff\x01murlex\x00", 10));

        const auto field = fieldUsing(QStringLiteral("fcitx"));
        QVERIFY(field);
        QVERIFY2(fcitx.waitForFocus(QStringLiteral("injection_target")), qPrintable(fcitx.debugInfo()));

        LogCapture log;
        const QString first = QStringLiteral("你好,世界!Cafe\u0301 👩\u200d💻");
        const QString second = QStringLiteral("第二句。");
        QCoro::Task<TextInjection::Outcome> firstInjection = injector.inject(first);
        QCoro::Task<TextInjection::Outcome> secondInjection = injector.inject(second);
        QCOMPARE(QCoro::waitFor(std::move(firstInjection)), TextInjection::Outcome::pasted);
        QCOMPARE(QCoro::waitFor(std::move(secondInjection)), TextInjection::Outcome::pasted);
        QCOMPARE(field->textAfterChange(2), first + second);

        // Nothing is put back later either: the clipboard was never the path.
        QTest::qWait(static_cast<int>(injector.restoreDelay().count()) * 3);
        QCOMPARE(ExternalTool::xClipboard(), before);
        QVERIFY2(field->linesStartingWith(QStringLiteral("key ")).isEmpty(), qPrintable(field->lines().join(u' ')));
        QCOMPARE(log.messages(QStringLiteral("injection"), QtInfoMsg),
                 (QStringList{QStringLiteral("injected %1 chars via Fcitx5").arg(characterCount(first)),
                              QStringLiteral("injected %1 chars via Fcitx5").arg(characterCount(second))}));

        const auto plainField = fieldUsing(QStringLiteral("compose"));
        QVERIFY(plainField);
        QVERIFY2(fcitx.waitForFocus(QString()), qPrintable(fcitx.debugInfo()));
        QCOMPARE(QCoro::waitFor(injector.inject(QStringLiteral("粘贴路径"))), TextInjection::Outcome::pasted);
        QCOMPARE(plainField->textAfterChange(), QStringLiteral("粘贴路径"));
        QCOMPARE(log.messages(QStringLiteral("injection"), QtInfoMsg).mid(2), QStringList{QStringLiteral("injected 4 chars via pasteboard")});
        QVERIFY(log.messages(QStringLiteral("injection"), QtDebugMsg).contains(QStringLiteral("Fcitx5 has no focused input field: using the other paths")));
        QCOMPARE(field->linesStartingWith(QStringLiteral("text ")).size(), 2);
    }

    // The same on headless sway, which runs as a user of its own: fcitx5 and the field run as this
    // one, on the harness's bus, the field natively on sway. The probe names Fcitx5 beside the
    // compositor's own path, the text is committed, and the Wayland clipboard keeps what another
    // program put there.
    void committedTextReachesANativeFieldOnSway()
    {
        const WaylandCompositor sway(WaylandCompositor::Kind::sway);
        QVERIFY2(!sway.socket().isEmpty(), qPrintable(sway.failure()));
        sway.enterSession();
        const auto back = qScopeGuard([] {
            qunsetenv("WAYLAND_DISPLAY");
            qputenv("XDG_SESSION_TYPE", "x11");
        });
        Fcitx5 fcitx;
        QVERIFY2(fcitx.ready(), qPrintable(fcitx.log()));
        QProcessEnvironment session = sway.clientEnvironment();
        const QByteArray previous = QStringLiteral("剪贴板原文").toUtf8();
        const auto owner = sway.ownClipboard({{QStringLiteral("text/plain;charset=utf-8"), previous}});
        QVERIFY(owner);
        session.insert(QStringLiteral("QT_IM_MODULE"), QStringLiteral("fcitx"));
        HelperProcess field(QStringLiteral("injection_target"), {QStringLiteral("--refocus")}, session);
        QVERIFY(field.waitForLine(QStringLiteral("active")));
        QVERIFY2(fcitx.waitForFocus(QStringLiteral("injection_target")), qPrintable(fcitx.debugInfo()));

        // The probe asks the desktop portal, which the bus would start: a name that answers nothing.
        HelperProcess noPortal(QStringLiteral("silent_bus_name"), {QStringLiteral("org.freedesktop.portal.Desktop")});
        QVERIFY(noPortal.waitForLine(QStringLiteral("ready")));
        LogCapture log;
        QCoro::waitFor(Platform::probeDesktopSession());
        const QStringList probed = log.messages(QStringLiteral("app"), QtInfoMsg);
        QCOMPARE(probed.size(), 1);
        QVERIFY2(probed[0].endsWith(QLatin1String("input methods: Fcitx5; text via data-control + virtual keyboard")),
                 qPrintable(probed[0]));
        TextInjector injector(TextInjector::Services::system());
        const QString text = QStringLiteral("在 sway 里提交的中文。");
        QCOMPARE(QCoro::waitFor(injector.inject(text)), TextInjection::Outcome::pasted);
        QCOMPARE(field.textAfterChange(), text);
        QCOMPARE(log.messages(QStringLiteral("injection"), QtInfoMsg), QStringList{QStringLiteral("injected %1 chars via Fcitx5").arg(characterCount(text))});
        QTest::qWait(static_cast<int>(injector.restoreDelay().count()) * 3);
        QCOMPARE(WaylandClipboardReader::read(sway.clientEnvironment(), QStringLiteral("text/plain;charset=utf-8")),
                 std::optional<QByteArray>(previous));
        QVERIFY(field.linesStartingWith(QStringLiteral("key ")).isEmpty());
    }

    // Where Fcitx5 does not run the answer comes at once and says nothing; asking does not start
    // it, although it is bus-activatable. One that does not answer is given up after the reply
    // timeout, whose real value keeps a dictation from stalling noticeably.
    void anAbsentOrSilentFcitx5IsNotWaitedFor()
    {
        const std::unique_ptr<InputMethodCommit> real = Platform::inputMethodCommit();
        QVERIFY(real->replyTimeout() >= 100ms && real->replyTimeout() <= 1s);

        LogCapture log;
        QElapsedTimer elapsed;
        elapsed.start();
        QCOMPARE(QCoro::waitFor(real->commit(QStringLiteral("无人"))), InputMethodCommit::Result::unavailable);
        QVERIFY(elapsed.elapsed() < real->replyTimeout().count());
        QVERIFY(log.messages(QStringLiteral("injection")).isEmpty());
        QTest::qWait(500);
        QVERIFY(!fcitxOnBus());

        HelperProcess silent(QStringLiteral("silent_bus_name"), {fcitxService});
        QVERIFY(silent.waitForLine(QStringLiteral("ready")));
        const auto pid = static_cast<pid_t>(silent.process().processId());
        QCOMPARE(::kill(pid, SIGSTOP), 0);
        // Stopped only once the kernel has scheduled the signal: until then it may still answer.
        QTRY_VERIFY([pid] {
            QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
            return stat.open(QIODevice::ReadOnly) && stat.readAll().contains(") T ");
        }());
        const std::unique_ptr<InputMethodCommit> shortened = Platform::inputMethodCommit(150ms);
        elapsed.restart();
        QCOMPARE(QCoro::waitFor(shortened->commit(QStringLiteral("无声"))), InputMethodCommit::Result::unavailable);
        QVERIFY2(elapsed.elapsed() >= 140 && elapsed.elapsed() < 2000, qPrintable(QString::number(elapsed.elapsed())));
        ::kill(pid, SIGCONT);
    }

    // make install puts the module where Fcitx5 looks for addons: the description under
    // share/fcitx5/addon, found through XDG_DATA_DIRS, naming the library under the prefix, which
    // need not be Fcitx5's own; the module answers from there. (The installed files and their
    // removal: tst_login_item's installLaysOutExactlyTheApplicationAndUninstallTakesItAway.)
    void theInstalledModuleIsFoundByFcitx5()
    {
        QTemporaryDir root;
        const QString prefix = root.filePath(QStringLiteral("opt/murlex"));
        const auto script = [](const QString &name, const QStringList &arguments) {
            return ExternalTool::run(QStringLiteral(MURLEX_SOURCE_DIR "/scripts/") + name, arguments, 120000).has_value();
        };
        QVERIFY(script(QStringLiteral("install-app.sh"), {buildDir, prefix}));
        const auto uninstall = qScopeGuard([&] { script(QStringLiteral("uninstall-app.sh"), {buildDir}); });
        Fcitx5 fcitx(prefix + QStringLiteral("/share:/usr/share"));
        QVERIFY2(fcitx.ready(), qPrintable(fcitx.log()));
        const std::unique_ptr<InputMethodCommit> commit = Platform::inputMethodCommit();
        QCOMPARE(QCoro::waitFor(commit->commit(QStringLiteral("无焦点"))), InputMethodCommit::Result::noFocusedField);
    }
};

QTEST_MAIN(TestFcitx5Commit)
#include "tst_fcitx5_commit.moc"
