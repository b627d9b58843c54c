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
const QString buildDir = QDir::cleanPath(QStringLiteral(MURLEX_TEST_HELPERS_DIR "/.."));
const QString buildTreeExecutable = buildDir + QStringLiteral("/src/murlex");

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
    return validate.exitCode() == 0 && !output.contains(QLatin1String("error")) ? QString() : output;
}

// The values of every `key=` line, in order.
QStringList entryValues(const QByteArray &entry, const QString &key)
{
    QStringList values;
    for (const QByteArray &line : entry.split('\n'))
        if (line.startsWith(key.toUtf8() + '='))
            values << QString::fromUtf8(line.mid(key.size() + 1));
    return values;
}

bool runScript(const QString &script, const QStringList &arguments)
{
    return ExternalTool::run(QStringLiteral(MURLEX_SOURCE_DIR "/scripts/") + script, arguments, 120000).has_value();
}

QStringList errors(const LogCapture &log) { return log.messages(QStringLiteral("app"), QtCriticalMsg); }
} // namespace

class TestLoginItem : public QObject {
    Q_OBJECT

    QTemporaryDir m_root;
    // Installed once for the suite; a space in the path keeps the quoting honest.
    QString m_prefix;
    QString m_installed;
    QString m_autostart;

    std::unique_ptr<LoginItemService> service(const QString &executable) const
    {
        return Platform::loginItemService({executable, m_prefix, m_autostart});
    }
    QString entryPath() const { return m_autostart + QStringLiteral("/quillfen.MurlexMac.desktop"); }
    QString entryProgram() const { return DesktopEntry::programOfExec(entryValues(readAll(entryPath()), QStringLiteral("Exec")).value(0)); }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(m_root.isValid());
        m_prefix = m_root.filePath(QStringLiteral("Murlex prefix"));
        m_installed = m_prefix + QStringLiteral("/bin/murlex");
        m_autostart = m_root.filePath(QStringLiteral("config/autostart"));
        QVERIFY2(runScript(QStringLiteral("install-app.sh"), {buildDir, m_prefix}), "install-app.sh failed");
    }

    void cleanup() { QFile::remove(entryPath()); }

    void installLaysOutExactlyTheApplicationAndUninstallTakesItAway()
    {
        const QString apps = QStringLiteral("share/icons/hicolor/scalable/apps/");
        const QString desktop = QStringLiteral("share/applications/quillfen.MurlexMac.desktop");
        // The Fcitx5 module in Fcitx5's own layout (lib/<multiarch>/fcitx5 on Debian).
        const QString fcitx5Module = QStringLiteral(MURLEX_FCITX5_ADDON_LIBDIR "/libmurlexcommit.so");
        QCOMPARE(filesBelow(m_prefix), (QStringList{QStringLiteral("bin/murlex"), fcitx5Module, desktop,
                                                    QStringLiteral("share/fcitx5/addon/murlexcommit.conf"),
                                                    apps + QStringLiteral("quillfen.MurlexMac-tray.svg"),
                                                    apps + QStringLiteral("quillfen.MurlexMac.svg")}));
        QCOMPARE(readAll(m_prefix + u'/' + apps + QStringLiteral("quillfen.MurlexMac.svg")),
                 readAll(QStringLiteral(MURLEX_SOURCE_DIR "/src/ui/assets/AppIcon.svg")));
        QCOMPARE(readAll(m_prefix + u'/' + apps + QStringLiteral("quillfen.MurlexMac-tray.svg")),
                 readAll(QStringLiteral(MURLEX_SOURCE_DIR "/src/ui/assets/MenuBarIcon.svg")));

        const QString entryFile = m_prefix + u'/' + desktop;
        const QString invalid = validationErrors(entryFile);
        QVERIFY2(invalid.isEmpty(), qPrintable(invalid));
        const QByteArray entry = readAll(entryFile);
        for (const auto &[key, value] : {std::pair{"Name", "Murlex"}, {"Icon", "quillfen.MurlexMac"}, {"StartupNotify", "false"},
                                         {"Categories", "Utility;Accessibility;"}})
            QCOMPARE(entryValues(entry, QLatin1String(key)).value(0), QLatin1String(value));
        QVERIFY(entry.contains("[Desktop Action toggle]\nName=开始/结束录音\n"));
        // Exec names the installed executable, quoted for the space in the prefix; the action adds --toggle.
        const QStringList execs = entryValues(entry, QStringLiteral("Exec"));
        QCOMPARE(execs.size(), 2);
        QCOMPARE(DesktopEntry::programOfExec(execs.at(0)), m_installed);
        QCOMPARE(execs.at(1), execs.at(0) + QStringLiteral(" --toggle"));

        // The installed program runs.
        const auto version = ExternalTool::run(m_installed, {QStringLiteral("--version")});
        QVERIFY(version && version->startsWith("Murlex "));

        // Uninstalling from a second prefix leaves this one alone and its own prefix as it was:
        // the directories the install made go, those that were there stay.
        const QString other = m_root.filePath(QStringLiteral("other"));
        QVERIFY(writeFile(other + QStringLiteral("/share/applications/someone-else.desktop"), "[Desktop Entry]\n"));
        QVERIFY(runScript(QStringLiteral("install-app.sh"), {buildDir, other}));
        QCOMPARE(filesBelow(other).size(), 7);
        QVERIFY(runScript(QStringLiteral("uninstall-app.sh"), {buildDir}));
        QCOMPARE(filesBelow(other), QStringList{QStringLiteral("share/applications/someone-else.desktop")});
        QCOMPARE(QDir(other).entryList(QDir::Dirs | QDir::NoDotAndDotDot), QStringList{QStringLiteral("share")});
        QCOMPARE(QDir(other + QStringLiteral("/share")).entryList(QDir::Dirs | QDir::NoDotAndDotDot),
                 QStringList{QStringLiteral("applications")});
        QCOMPARE(filesBelow(m_prefix).size(), 6);
        // The build tree keeps nothing of the installs.
        QVERIFY(!QFileInfo::exists(buildDir + QStringLiteral("/install_manifest.txt")));
        QVERIFY(!QFileInfo::exists(buildDir + QStringLiteral("/install_dirs.txt")));
    }

    void onlyTheInstalledExecutableMayStartAtLogin()
    {
        QVERIFY(service(m_installed)->isInstallableLocation());
        QVERIFY(!service(buildTreeExecutable)->isInstallableLocation());
        // This test program, as the running process, with the prefix the build was made for.
        const auto current = LoginItemService::Paths::current();
        QCOMPARE(current.installPrefix, QDir::cleanPath(QString::fromUtf8(BuildConfig::installPrefix)));
        QVERIFY(current.executable.endsWith(QStringLiteral("/tst_login_item")));
        QVERIFY(!Platform::loginItemService(current)->isInstallableLocation());
        // A build tree made the prefix does not count either: only <prefix>/bin/murlex does.
        QVERIFY(!Platform::loginItemService({buildTreeExecutable, buildDir, m_autostart})->isInstallableLocation());

        // Resolved: a link in the prefix to a build tree is the build tree running ...
        const QString linkedPrefix = m_root.filePath(QStringLiteral("linked"));
        QVERIFY(QDir().mkpath(linkedPrefix + QStringLiteral("/bin")));
        QVERIFY(QFile::link(buildTreeExecutable, linkedPrefix + QStringLiteral("/bin/murlex")));
        QVERIFY(!Platform::loginItemService({buildTreeExecutable, linkedPrefix, m_autostart})->isInstallableLocation());
        // ... and a link elsewhere to the installed file runs the installed file.
        const QString elsewhere = m_root.filePath(QStringLiteral("murlex-link"));
        QVERIFY(QFile::link(m_installed, elsewhere));
        QVERIFY(service(QFileInfo(elsewhere).canonicalFilePath())->isInstallableLocation());

        // Enabling from outside the install is refused and writes nothing.
        LogCapture log;
        LoginItemController controller(service(buildTreeExecutable));
        QSignalSpy registered(&controller, &LoginItemController::isRegisteredChanged);
        controller.setEnabled(true);
        QCOMPARE(errors(log), QStringList{QStringLiteral("拒绝注册登录项:不在 %1 下").arg(m_prefix)});
        QVERIFY(!QFileInfo::exists(m_autostart));
        QCOMPARE(registered.size(), 0);
        QVERIFY(!controller.isRegistered());
    }

    void enableWritesAValidEntryAndDisableRemovesIt()
    {
        LogCapture log;
        LoginItemController controller(service(m_installed));
        QSignalSpy registered(&controller, &LoginItemController::isRegisteredChanged);
        QVERIFY(!controller.isRegistered());

        controller.setEnabled(true);
        QVERIFY(controller.isRegistered());
        QCOMPARE(registered.size(), 1);
        const QString invalid = validationErrors(entryPath());
        QVERIFY2(invalid.isEmpty(), qPrintable(invalid));
        QCOMPARE(entryProgram(), m_installed);
        // Written whole and renamed into place: nothing else is left in the directory.
        QCOMPARE(QDir(m_autostart).entryList(QDir::Files | QDir::Hidden), QStringList{QStringLiteral("quillfen.MurlexMac.desktop")});
        // A fresh controller (the next run) reads the entry as registered.
        QVERIFY(LoginItemController(service(m_installed)).isRegistered());

        controller.setEnabled(false);
        QVERIFY(!QFileInfo::exists(entryPath()));
        QVERIFY(!controller.isRegistered());
        QCOMPARE(registered.size(), 2);
        controller.setEnabled(false); // disabling what is not there is no failure
        QCOMPARE(errors(log), QStringList());
    }

    // An entry the user switched off reads as not registered and is still ours to remove.
    void entriesChangedByOthers()
    {
        LoginItemController controller(service(m_installed));
        controller.setEnabled(true);
        const QByteArray ours = readAll(entryPath());
        for (const QByteArray &switchedOff : {ours + "Hidden=true\n",
                                              QByteArray(ours).replace("X-GNOME-Autostart-enabled=true", "X-GNOME-Autostart-enabled=false")}) {
            QVERIFY(writeFile(entryPath(), ours));
            controller.refresh();
            QVERIFY(writeFile(entryPath(), switchedOff));
            QVERIFY(controller.isRegistered()); // only refresh() changes the field
            controller.refresh();
            QVERIFY(!controller.isRegistered());
        }
        controller.setEnabled(false);
        QVERIFY(!QFileInfo::exists(entryPath()));

        // Another program's entry of the same name is left alone and reported.
        LogCapture log;
        controller.setEnabled(true);
        const QByteArray foreign = "[Desktop Entry]\nType=Application\nName=Murlex\nExec=/opt/elsewhere/bin/murlex\n";
        QVERIFY(writeFile(entryPath(), foreign));
        controller.setEnabled(false);
        QCOMPARE(readAll(entryPath()), foreign);
        QCOMPARE(errors(log).size(), 1);
        QVERIFY2(errors(log).first().startsWith(QStringLiteral("登录项操作失败:")) && errors(log).first().contains(entryPath()),
                 qPrintable(errors(log).first()));
        // A failed attempt leaves the fields as they were.
        QVERIFY(controller.isRegistered());
        controller.refresh();
        QVERIFY(!controller.isRegistered());

        // Asked to start at login, this installation takes the name over.
        controller.setEnabled(true);
        QVERIFY(controller.isRegistered());
        QCOMPARE(entryProgram(), m_installed);
    }

    void anUnwritableAutostartDirectoryIsLoggedAndChangesNothing()
    {
        LogCapture log;
        // A file where the directory should be: no permission bits save it, not even for root.
        const QString blocked = m_root.filePath(QStringLiteral("blocked/autostart"));
        QVERIFY(writeFile(blocked, "not a directory"));
        LoginItemController controller(Platform::loginItemService({m_installed, m_prefix, blocked}));
        QSignalSpy registered(&controller, &LoginItemController::isRegisteredChanged);
        QSignalSpy installable(&controller, &LoginItemController::isInstallableLocationChanged);
        controller.setEnabled(true);
        QCOMPARE(errors(log).size(), 1);
        QVERIFY2(errors(log).first().startsWith(QStringLiteral("登录项操作失败:")), qPrintable(errors(log).first()));
        QVERIFY(!controller.isRegistered());
        QVERIFY(controller.isInstallableLocation());
        QCOMPARE(registered.size() + installable.size(), 0);
        QCOMPARE(readAll(blocked), QByteArray("not a directory"));
    }

    void execValuesSurviveTheRoundTrip()
    {
        for (const QString &path : {QStringLiteral("/usr/bin/murlex"), QStringLiteral("/opt/Murlex prefix/bin/murlex"),
                                    QStringLiteral("/tmp/a\"b`c$d\\e%f/bin/murlex"), QStringLiteral("/home/用户/bin/murlex")}) {
            // Read back the way a desktop entry's string value is read: \\ stands for one backslash.
            const QString unescaped = DesktopEntry::execValue(path).replace(QLatin1String("\\\\"), QLatin1String("\\"));
            QCOMPARE(DesktopEntry::programOfExec(unescaped), path);
        }
    }
};

QTEST_GUILESS_MAIN(TestLoginItem)
#include "tst_login_item.moc"
