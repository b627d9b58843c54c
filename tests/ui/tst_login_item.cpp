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

using namespace Qt::StringLiterals;

namespace {
const QString buildDir = QDir::cleanPath(QStringLiteral(MURLEX_TEST_HELPERS_DIR "/.."));
const QString buildTreeExecutable = buildDir + u"/src/murlex"_s;

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
    QFile file(path);
    return QDir().mkpath(QFileInfo(path).absolutePath()) && file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(content) == content.size();
}

// desktop-file-validate's complaints; empty when the entry is valid.
QString validationErrors(const QString &entry)
{
    QProcess validate;
    validate.setProcessChannelMode(QProcess::MergedChannels);
    validate.start(u"desktop-file-validate"_s, {entry});
    const bool finished = validate.waitForFinished(20000);
    const QString output = QString::fromUtf8(validate.readAll());
    return finished && validate.exitCode() == 0 && !output.contains(u"error"_s) ? QString() : u"invalid: "_s + output;
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

QStringList errors(const LogCapture &log) { return log.messages(u"app"_s, QtCriticalMsg); }
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
    QString entryPath() const { return m_autostart + u"/quillfen.MurlexMac.desktop"_s; }
    QString entryProgram() const { return DesktopEntry::programOfExec(entryValues(readAll(entryPath()), u"Exec"_s).value(0)); }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(m_root.isValid());
        m_prefix = m_root.filePath(u"Murlex prefix"_s);
        m_installed = m_prefix + u"/bin/murlex"_s;
        m_autostart = m_root.filePath(u"config/autostart"_s);
        QVERIFY2(runScript(u"install-app.sh"_s, {buildDir, m_prefix}), "install-app.sh failed");
    }

    void cleanup() { QFile::remove(entryPath()); }

    void installLaysOutExactlyTheApplicationAndUninstallTakesItAway()
    {
        const QString apps = u"share/icons/hicolor/scalable/apps/"_s;
        const QString desktop = u"share/applications/quillfen.MurlexMac.desktop"_s;
        // The Fcitx5 module in Fcitx5's own layout (lib/<multiarch>/fcitx5 on Debian).
        const QString fcitx5Module = QStringLiteral(MURLEX_FCITX5_ADDON_LIBDIR "/libmurlexcommit.so");
        QCOMPARE(filesBelow(m_prefix), (QStringList{u"bin/murlex"_s, fcitx5Module, desktop,
                                                    u"share/fcitx5/addon/murlexcommit.conf"_s,
                                                    apps + u"quillfen.MurlexMac-tray.svg"_s,
                                                    apps + u"quillfen.MurlexMac.svg"_s}));
        for (const auto &[installed, source] : {std::pair{"quillfen.MurlexMac.svg", "AppIcon.svg"}, {"quillfen.MurlexMac-tray.svg", "MenuBarIcon.svg"}})
            QCOMPARE(readAll(m_prefix + u'/' + apps + QLatin1String(installed)), readAll(QStringLiteral(MURLEX_SOURCE_DIR "/src/ui/assets/") + QLatin1String(source)));

        const QString entryFile = m_prefix + u'/' + desktop;
        const QString invalid = validationErrors(entryFile);
        QVERIFY2(invalid.isEmpty(), qPrintable(invalid));
        const QByteArray entry = readAll(entryFile);
        for (const auto &[key, value] : {std::pair{"Name", "Murlex"}, {"Icon", "quillfen.MurlexMac"}, {"StartupNotify", "false"},
                                         {"Categories", "Utility;Accessibility;"}})
            QCOMPARE(entryValues(entry, QLatin1String(key)).value(0), QLatin1String(value));
        QVERIFY(entry.contains("[Desktop Action toggle]\nName=开始/结束录音\n"));
        // Exec names the installed executable, quoted for the space in the prefix; the action adds --toggle.
        const QStringList execs = entryValues(entry, u"Exec"_s);
        QCOMPARE(execs.size(), 2);
        QCOMPARE(DesktopEntry::programOfExec(execs.at(0)), m_installed);
        QCOMPARE(execs.at(1), execs.at(0) + u" --toggle"_s);

        // The installed program runs.
        const auto version = ExternalTool::run(m_installed, {u"--version"_s});
        QVERIFY(version && version->startsWith("Murlex "));

        // Uninstalling from a second prefix leaves this one alone and its own prefix as it was:
        // the directories the install made go, those that were there stay.
        const QString other = m_root.filePath(u"other"_s);
        QVERIFY(writeFile(other + u"/share/applications/someone-else.desktop"_s, "[Desktop Entry]\n"));
        QVERIFY(runScript(u"install-app.sh"_s, {buildDir, other}));
        QCOMPARE(filesBelow(other).size(), 7);
        QVERIFY(runScript(u"uninstall-app.sh"_s, {buildDir}));
        QCOMPARE(filesBelow(other), QStringList{u"share/applications/someone-else.desktop"_s});
        QCOMPARE(QDir(other).entryList(QDir::Dirs | QDir::NoDotAndDotDot), QStringList{u"share"_s});
        QCOMPARE(QDir(other + u"/share"_s).entryList(QDir::Dirs | QDir::NoDotAndDotDot),
                 QStringList{u"applications"_s});
        QCOMPARE(filesBelow(m_prefix).size(), 6);
        // The build tree keeps nothing of the installs.
        QVERIFY(!QFileInfo::exists(buildDir + u"/install_manifest.txt"_s));
        QVERIFY(!QFileInfo::exists(buildDir + u"/install_dirs.txt"_s));
    }

    void onlyTheInstalledExecutableMayStartAtLogin()
    {
        QVERIFY(service(m_installed)->isInstallableLocation());
        QVERIFY(!service(buildTreeExecutable)->isInstallableLocation());
        // This test program, as the running process, with the prefix the build was made for.
        const auto current = LoginItemService::Paths::current();
        QCOMPARE(current.installPrefix, QDir::cleanPath(QString::fromUtf8(BuildConfig::installPrefix)));
        QVERIFY(current.executable.endsWith(u"/tst_login_item"_s));
        QVERIFY(!Platform::loginItemService(current)->isInstallableLocation());
        // A build tree made the prefix does not count either: only <prefix>/bin/murlex does.
        QVERIFY(!Platform::loginItemService({buildTreeExecutable, buildDir, m_autostart})->isInstallableLocation());

        // Resolved: a link in the prefix to a build tree is the build tree running ...
        const QString linkedPrefix = m_root.filePath(u"linked"_s);
        QVERIFY(QDir().mkpath(linkedPrefix + u"/bin"_s));
        QVERIFY(QFile::link(buildTreeExecutable, linkedPrefix + u"/bin/murlex"_s));
        QVERIFY(!Platform::loginItemService({buildTreeExecutable, linkedPrefix, m_autostart})->isInstallableLocation());
        // ... and a link elsewhere to the installed file runs the installed file.
        const QString elsewhere = m_root.filePath(u"murlex-link"_s);
        QVERIFY(QFile::link(m_installed, elsewhere));
        QVERIFY(service(QFileInfo(elsewhere).canonicalFilePath())->isInstallableLocation());

        // Enabling from outside the install is refused and writes nothing.
        LogCapture log;
        LoginItemController controller(service(buildTreeExecutable));
        QSignalSpy registered(&controller, &LoginItemController::isRegisteredChanged);
        controller.setEnabled(true);
        QCOMPARE(errors(log), QStringList{u"拒绝注册登录项:不在 %1 下"_s.arg(m_prefix)});
        QVERIFY(!QFileInfo::exists(m_autostart));
        QCOMPARE(registered.size(), 0);
        QVERIFY(!controller.isRegistered());
    }

    // Enabled: a valid entry written whole (nothing else left in the directory), read back by the
    // next run; disabled: gone, and twice is no failure. An entry the user switched off reads as not
    // registered and is still ours to remove; another program's of the same name is left alone and
    // reported, until this installation is asked to start at login.
    void enableWritesAValidEntryAndDisableRemovesOnlyOurs()
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
        QCOMPARE(QDir(m_autostart).entryList(QDir::Files | QDir::Hidden), QStringList{u"quillfen.MurlexMac.desktop"_s});
        QVERIFY(LoginItemController(service(m_installed)).isRegistered());
        const QByteArray ours = readAll(entryPath());
        controller.setEnabled(false);
        QVERIFY(!QFileInfo::exists(entryPath()));
        QVERIFY(!controller.isRegistered());
        QCOMPARE(registered.size(), 2);
        controller.setEnabled(false);
        QCOMPARE(errors(log), QStringList());

        QVERIFY(writeFile(entryPath(), ours));
        controller.refresh();
        QVERIFY(writeFile(entryPath(), ours + "Hidden=true\n"));
        QVERIFY(controller.isRegistered()); // only refresh() changes the field
        controller.refresh();
        QVERIFY(!controller.isRegistered());
        controller.setEnabled(false);
        QVERIFY(!QFileInfo::exists(entryPath()));

        controller.setEnabled(true);
        const QByteArray foreign = "[Desktop Entry]\nType=Application\nName=Murlex\nExec=/opt/elsewhere/bin/murlex\n";
        QVERIFY(writeFile(entryPath(), foreign));
        controller.setEnabled(false);
        QCOMPARE(readAll(entryPath()), foreign);
        QCOMPARE(errors(log).size(), 1);
        QVERIFY2(errors(log).first().startsWith(u"登录项操作失败:"_s) && errors(log).first().contains(entryPath()),
                 qPrintable(errors(log).first()));
        // A failed attempt leaves the fields as they were.
        QVERIFY(controller.isRegistered());
        controller.refresh();
        QVERIFY(!controller.isRegistered());
        controller.setEnabled(true);
        QVERIFY(controller.isRegistered());
        QCOMPARE(entryProgram(), m_installed);
    }

    void anUnwritableAutostartDirectoryIsLoggedAndChangesNothing()
    {
        LogCapture log;
        // A file where the directory should be: no permission bits save it, not even for root.
        const QString blocked = m_root.filePath(u"blocked/autostart"_s);
        QVERIFY(writeFile(blocked, "not a directory"));
        LoginItemController controller(Platform::loginItemService({m_installed, m_prefix, blocked}));
        QSignalSpy registered(&controller, &LoginItemController::isRegisteredChanged);
        QSignalSpy installable(&controller, &LoginItemController::isInstallableLocationChanged);
        controller.setEnabled(true);
        QCOMPARE(errors(log).size(), 1);
        QVERIFY2(errors(log).first().startsWith(u"登录项操作失败:"_s), qPrintable(errors(log).first()));
        QVERIFY(!controller.isRegistered());
        QVERIFY(controller.isInstallableLocation());
        QCOMPARE(registered.size() + installable.size(), 0);
        QCOMPARE(readAll(blocked), QByteArray("not a directory"));
    }

    void execValuesSurviveTheRoundTrip()
    {
        for (const QString &path : {u"/usr/bin/murlex"_s, u"/opt/Murlex prefix/bin/murlex"_s,
                                    u"/tmp/a\"b`c$d\\e%f/bin/murlex"_s, u"/home/用户/bin/murlex"_s}) {
            // Read back the way a desktop entry's string value is read: \\ stands for one backslash.
            const QString unescaped = DesktopEntry::execValue(path).replace(QLatin1String("\\\\"), QLatin1String("\\"));
            QCOMPARE(DesktopEntry::programOfExec(unescaped), path);
        }
    }
};

QTEST_GUILESS_MAIN(TestLoginItem)
#include "tst_login_item.moc"
