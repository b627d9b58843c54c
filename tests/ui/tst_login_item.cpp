// test-labels: desktop
// Murlex as an installed application: the layout `cmake --install` puts under a prefix (and the
// uninstall that takes it away again), and launch at login through the XDG autostart entry, for
// the installed executable and for one run from the build tree.
#include "ExternalTool.h"
#include "LogCapture.h"
#include "platform/DesktopEntry.h"
#include "platform/Platform.h"
#include "ui/LoginItemController.h"

#include "BuildConfig.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

namespace {
const QString appsDir = QStringLiteral("share/icons/hicolor/scalable/apps/");

QString buildDir()
{
    return QDir::cleanPath(QStringLiteral(MURLEX_TEST_HELPERS_DIR "/.."));
}

QString buildTreeExecutable()
{
    return buildDir() + QStringLiteral("/src/murlex");
}

// Every file below `root`, relative to it.
QStringList filesBelow(const QString &root)
{
    QStringList files;
    QDirIterator it(root, QDir::Files | QDir::Hidden | QDir::System, QDirIterator::Subdirectories);
    while (it.hasNext())
        files << QDir(root).relativeFilePath(it.next());
    files.sort();
    return files;
}

QByteArray readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool writeFile(const QString &path, const QByteArray &content)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(content) == content.size();
}

// desktop-file-validate's complaints; empty when the entry is valid.
QString validationErrors(const QString &entry)
{
    QProcess validate;
    validate.setProcessChannelMode(QProcess::MergedChannels);
    validate.start(QStringLiteral("desktop-file-validate"), {entry});
    if (!validate.waitForFinished(20000))
        return QStringLiteral("desktop-file-validate did not finish");
    const QString output = QString::fromUtf8(validate.readAll());
    return validate.exitCode() == 0 && !output.contains(QLatin1String("error")) ? QString() : output + QStringLiteral(" (exit ") + QString::number(validate.exitCode()) + u')';
}

QString entryValue(const QByteArray &entry, const QString &key)
{
    for (const QByteArray &line : entry.split('\n'))
        if (line.startsWith(key.toUtf8() + '='))
            return QString::fromUtf8(line.mid(key.size() + 1));
    return {};
}
} // namespace

class TestLoginItem : public QObject {
    Q_OBJECT

    QTemporaryDir m_root;
    // Installed once for the suite; a space in the path keeps the quoting honest.
    QString m_prefix;
    QString m_autostart;

    LoginItemService::Paths installedPaths() const
    {
        return {m_prefix + QStringLiteral("/bin/murlex"), m_prefix, m_autostart};
    }
    LoginItemService::Paths buildTreePaths() const
    {
        return {buildTreeExecutable(), m_prefix, m_autostart};
    }
    QString entryPath() const { return m_autostart + QStringLiteral("/quillfen.MurlexMac.desktop"); }

    static bool runScript(const QString &script, const QStringList &arguments)
    {
        return ExternalTool::run(QStringLiteral(MURLEX_SOURCE_DIR "/scripts/") + script, arguments, 120000).has_value();
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(m_root.isValid());
        m_prefix = m_root.filePath(QStringLiteral("Murlex prefix"));
        m_autostart = m_root.filePath(QStringLiteral("config/autostart"));
        QVERIFY2(runScript(QStringLiteral("install-app.sh"), {buildDir(), m_prefix}), "install-app.sh failed");
    }

    void cleanup()
    {
        QFile::remove(entryPath());
    }

    void installLaysOutExactlyTheApplicationAndUninstallTakesItAway()
    {
        const QString icon = appsDir + QStringLiteral("quillfen.MurlexMac.svg");
        const QString tray = appsDir + QStringLiteral("quillfen.MurlexMac-tray.svg");
        const QString desktop = QStringLiteral("share/applications/quillfen.MurlexMac.desktop");
        QCOMPARE(filesBelow(m_prefix), (QStringList{QStringLiteral("bin/murlex"), desktop, tray, icon}));
        QVERIFY(QFileInfo(m_prefix + QStringLiteral("/bin/murlex")).isExecutable());
        QCOMPARE(readAll(m_prefix + u'/' + icon), readAll(QStringLiteral(MURLEX_SOURCE_DIR "/src/ui/assets/AppIcon.svg")));
        QCOMPARE(readAll(m_prefix + u'/' + tray), readAll(QStringLiteral(MURLEX_SOURCE_DIR "/src/ui/assets/MenuBarIcon.svg")));

        const QString entryFile = m_prefix + u'/' + desktop;
        const QString errors = validationErrors(entryFile);
        QVERIFY2(errors.isEmpty(), qPrintable(errors));
        const QByteArray entry = readAll(entryFile);
        QCOMPARE(entryValue(entry, QStringLiteral("Name")), QStringLiteral("Murlex"));
        QCOMPARE(entryValue(entry, QStringLiteral("Icon")), QStringLiteral("quillfen.MurlexMac"));
        QCOMPARE(entryValue(entry, QStringLiteral("StartupNotify")), QStringLiteral("false"));
        QCOMPARE(entryValue(entry, QStringLiteral("Categories")), QStringLiteral("Utility;Accessibility;"));
        QVERIFY(entry.contains("[Desktop Action toggle]\nName=开始/结束录音\n"));
        // Exec names the installed executable, quoted for the space in the prefix; the action adds --toggle.
        const QStringList execs = [&] {
            QStringList out;
            for (const QByteArray &line : entry.split('\n'))
                if (line.startsWith("Exec="))
                    out << QString::fromUtf8(line.mid(5));
            return out;
        }();
        QCOMPARE(execs.size(), 2);
        QCOMPARE(DesktopEntry::programOfExec(execs.at(0)), m_prefix + QStringLiteral("/bin/murlex"));
        QCOMPARE(execs.at(1), execs.at(0) + QStringLiteral(" --toggle"));

        // The installed program runs.
        const auto version = ExternalTool::run(m_prefix + QStringLiteral("/bin/murlex"), {QStringLiteral("--version")});
        QVERIFY(version);
        QVERIFY(version->startsWith("Murlex "));

        // Uninstalling from a second prefix leaves this one alone and its own prefix as it was.
        const QString other = m_root.filePath(QStringLiteral("other"));
        QVERIFY(QDir().mkpath(other + QStringLiteral("/share/applications")));
        QVERIFY(writeFile(other + QStringLiteral("/share/applications/someone-else.desktop"), "[Desktop Entry]\n"));
        QVERIFY(runScript(QStringLiteral("install-app.sh"), {buildDir(), other}));
        QCOMPARE(filesBelow(other).size(), 5);
        QVERIFY(runScript(QStringLiteral("uninstall-app.sh"), {buildDir()}));
        QCOMPARE(filesBelow(other), QStringList{QStringLiteral("share/applications/someone-else.desktop")});
        // The directories the install made are gone again, those that were there stay.
        QCOMPARE(QDir(other).entryList(QDir::Dirs | QDir::NoDotAndDotDot), QStringList{QStringLiteral("share")});
        QCOMPARE(QDir(other + QStringLiteral("/share")).entryList(QDir::Dirs | QDir::NoDotAndDotDot),
                 QStringList{QStringLiteral("applications")});
        QCOMPARE(filesBelow(m_prefix).size(), 4);
        // The build tree keeps nothing of the installs.
        QVERIFY(!QFileInfo::exists(buildDir() + QStringLiteral("/install_manifest.txt")));
        QVERIFY(!QFileInfo::exists(buildDir() + QStringLiteral("/install_dirs.txt")));
    }

    void onlyTheInstalledExecutableIsAnInstallableLocation()
    {
        QVERIFY(Platform::loginItemService(installedPaths())->isInstallableLocation());
        QVERIFY(!Platform::loginItemService(buildTreePaths())->isInstallableLocation());
        // This test program, as the running process, with the prefix the build was made for.
        const auto current = LoginItemService::Paths::current();
        QCOMPARE(current.installPrefix, QDir::cleanPath(QString::fromUtf8(BuildConfig::installPrefix)));
        QVERIFY(current.executable.endsWith(QStringLiteral("/tst_login_item")));
        QVERIFY(!Platform::loginItemService(current)->isInstallableLocation());
        // A build tree made the prefix does not count either: only <prefix>/bin/murlex does.
        QVERIFY(!Platform::loginItemService({buildTreeExecutable(), buildDir(), m_autostart})->isInstallableLocation());

        // Resolved: a link in the prefix to a build tree is the build tree running ...
        const QString linkedPrefix = m_root.filePath(QStringLiteral("linked"));
        QVERIFY(QDir().mkpath(linkedPrefix + QStringLiteral("/bin")));
        QVERIFY(QFile::link(buildTreeExecutable(), linkedPrefix + QStringLiteral("/bin/murlex")));
        QVERIFY(!Platform::loginItemService({buildTreeExecutable(), linkedPrefix, m_autostart})->isInstallableLocation());
        // ... and a link elsewhere to the installed file runs the installed file.
        const QString elsewhere = m_root.filePath(QStringLiteral("murlex-link"));
        QVERIFY(QFile::link(m_prefix + QStringLiteral("/bin/murlex"), elsewhere));
        const QString running = QFileInfo(elsewhere).canonicalFilePath();
        QVERIFY(Platform::loginItemService({running, m_prefix, m_autostart})->isInstallableLocation());
    }

    void enablingOutsideTheInstallIsRefusedAndWritesNothing()
    {
        LogCapture log;
        LoginItemController controller(Platform::loginItemService(buildTreePaths()));
        QSignalSpy registered(&controller, &LoginItemController::isRegisteredChanged);
        QVERIFY(!controller.isInstallableLocation());
        controller.setEnabled(true);
        QVERIFY(log.contains(QStringLiteral("app"), QtCriticalMsg, QStringLiteral("拒绝注册登录项:不在 %1 下").arg(m_prefix)));
        QVERIFY(!QFileInfo::exists(m_autostart));
        QCOMPARE(registered.size(), 0);
        QVERIFY(!controller.isRegistered());
    }

    void enableWritesAValidEntryForTheInstalledExecutableAndDisableRemovesIt()
    {
        LogCapture log;
        LoginItemController controller(Platform::loginItemService(installedPaths()));
        QSignalSpy registered(&controller, &LoginItemController::isRegisteredChanged);
        QVERIFY(controller.isInstallableLocation());
        QVERIFY(!controller.isRegistered());

        controller.setEnabled(true);
        QVERIFY2(log.messages(QStringLiteral("app"), QtCriticalMsg).isEmpty(), qPrintable(log.messages(QStringLiteral("app")).join(u'\n')));
        QVERIFY(controller.isRegistered());
        QCOMPARE(registered.size(), 1);
        const QString errors = validationErrors(entryPath());
        QVERIFY2(errors.isEmpty(), qPrintable(errors));
        const QByteArray entry = readAll(entryPath());
        QCOMPARE(DesktopEntry::programOfExec(entryValue(entry, QStringLiteral("Exec"))), m_prefix + QStringLiteral("/bin/murlex"));
        // Written whole and renamed into place: nothing else is left in the directory.
        QCOMPARE(QDir(m_autostart).entryList(QDir::Files | QDir::Hidden), QStringList{QStringLiteral("quillfen.MurlexMac.desktop")});

        // A fresh controller (the next run) reads the entry as registered.
        QVERIFY(LoginItemController(Platform::loginItemService(installedPaths())).isRegistered());

        controller.setEnabled(false);
        QVERIFY(!QFileInfo::exists(entryPath()));
        QVERIFY(!controller.isRegistered());
        QCOMPARE(registered.size(), 2);
        // Disabling what is not there is no failure.
        controller.setEnabled(false);
        QVERIFY(log.messages(QStringLiteral("app"), QtCriticalMsg).isEmpty());
    }

    void anEntrySwitchedOffByTheUserReadsAsNotRegisteredAndIsOursToRemove()
    {
        LoginItemController controller(Platform::loginItemService(installedPaths()));
        controller.setEnabled(true);
        QVERIFY(controller.isRegistered());
        const QByteArray ours = readAll(entryPath());

        QVERIFY(writeFile(entryPath(), ours + "Hidden=true\n"));
        QVERIFY(controller.isRegistered()); // only refresh() changes the field
        controller.refresh();
        QVERIFY(!controller.isRegistered());

        QVERIFY(writeFile(entryPath(), QByteArray(ours).replace("X-GNOME-Autostart-enabled=true", "X-GNOME-Autostart-enabled=false")));
        controller.refresh();
        QVERIFY(!controller.isRegistered());
        controller.setEnabled(false);
        QVERIFY(!QFileInfo::exists(entryPath()));
    }

    void anotherProgramsEntryOfTheSameNameIsLeftAloneAndReported()
    {
        LogCapture log;
        LoginItemController controller(Platform::loginItemService(installedPaths()));
        controller.setEnabled(true);
        QVERIFY(controller.isRegistered());

        // Another installation's entry appears under our name.
        const QByteArray foreign = "[Desktop Entry]\nType=Application\nName=Murlex\nExec=/opt/elsewhere/bin/murlex\n";
        QVERIFY(writeFile(entryPath(), foreign));
        controller.setEnabled(false);
        QCOMPARE(readAll(entryPath()), foreign);
        const QStringList errors = log.messages(QStringLiteral("app"), QtCriticalMsg);
        QCOMPARE(errors.size(), 1);
        QVERIFY2(errors.first().startsWith(QStringLiteral("登录项操作失败:")) && errors.first().contains(entryPath()),
                 qPrintable(errors.first()));
        // A failed attempt leaves the fields as they were.
        QVERIFY(controller.isRegistered());
        controller.refresh();
        QVERIFY(!controller.isRegistered());

        // Asked to start at login, this installation takes the name over.
        controller.setEnabled(true);
        QVERIFY(controller.isRegistered());
        QCOMPARE(DesktopEntry::programOfExec(entryValue(readAll(entryPath()), QStringLiteral("Exec"))),
                 m_prefix + QStringLiteral("/bin/murlex"));
    }

    void anUnwritableAutostartDirectoryIsLoggedAndChangesNothing()
    {
        LogCapture log;
        // A file where the directory should be: no permission bits save it, not even for root.
        const QString blocked = m_root.filePath(QStringLiteral("blocked"));
        QVERIFY(writeFile(blocked + QStringLiteral("/autostart"), "not a directory"));
        LoginItemService::Paths paths = installedPaths();
        paths.autostartDirectory = blocked + QStringLiteral("/autostart");
        LoginItemController controller(Platform::loginItemService(paths));
        QSignalSpy registered(&controller, &LoginItemController::isRegisteredChanged);
        QSignalSpy installable(&controller, &LoginItemController::isInstallableLocationChanged);

        controller.setEnabled(true);
        const QStringList errors = log.messages(QStringLiteral("app"), QtCriticalMsg);
        QCOMPARE(errors.size(), 1);
        QVERIFY2(errors.first().startsWith(QStringLiteral("登录项操作失败:")), qPrintable(errors.first()));
        QVERIFY(!controller.isRegistered());
        QVERIFY(controller.isInstallableLocation());
        QCOMPARE(registered.size() + installable.size(), 0);
        QCOMPARE(readAll(blocked + QStringLiteral("/autostart")), QByteArray("not a directory"));
    }

    void execValuesSurviveTheRoundTrip()
    {
        for (const QString &path : {QStringLiteral("/usr/bin/murlex"), QStringLiteral("/opt/Murlex prefix/bin/murlex"),
                                    QStringLiteral("/tmp/a\"b`c$d\\e%f/bin/murlex"), QStringLiteral("/home/用户/bin/murlex")}) {
            const QString exec = DesktopEntry::execValue(path);
            // Read back the way a desktop entry's string value is read: \\ stands for one backslash.
            QString unescaped = exec;
            unescaped.replace(QLatin1String("\\\\"), QLatin1String("\\"));
            QCOMPARE(DesktopEntry::programOfExec(unescaped), path);
        }
    }
};

QTEST_GUILESS_MAIN(TestLoginItem)
#include "tst_login_item.moc"
