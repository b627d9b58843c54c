// test-labels: wayland
// How to bind `murlex --toggle` where the shortcut cannot reach every window: decided from the
// session (the real desktop portal on the harness's bus, with and without GlobalShortcuts),
// shown with the desktop's own steps in the settings' 快捷键 section and on the guide's test
// page, and copied to the clipboard. Screenshots in a light and a dark palette go to
// build/test/artifacts/wayland/.
#include "Artifacts.h"
#include "ShortcutsPortal.h"
#include "app/AppState.h"
#include "core/AppIdentity.h"
#include "platform/Platform.h"
#include "ui/FirstRunFlag.h"
#include "ui/LoginItemController.h"
#include "ui/MainWindowServices.h"
#include "ui/OnboardingTestPage.h"
#include "ui/OnboardingView.h"
#include "ui/PermissionChecker.h"
#include "ui/SettingsTab.h"
#include "ui/ToggleBindingHint.h"

#include <QApplication>
#include <QClipboard>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSettings>
#include <QSignalSpy>
#include <QStyle>
#include <QStyleFactory>
#include <QTemporaryDir>
#include <QtTest>

using namespace std::chrono_literals;

namespace {
const QString label = QStringLiteral("wayland");

// Sets an environment variable for the life of the object.
class ScopedEnv {
public:
    ScopedEnv(const char *name, const QByteArray &value) : m_name(name), m_old(qgetenv(name)), m_had(qEnvironmentVariableIsSet(name))
    {
        value.isNull() ? qunsetenv(name) : qputenv(name, value);
    }
    ~ScopedEnv() { m_had ? qputenv(m_name, m_old) : qunsetenv(m_name); }

private:
    const char *m_name;
    QByteArray m_old;
    bool m_had;
};

// Whether the hint, made now inside `parent`, comes to be needed; none when it never decides.
std::optional<bool> decided(QWidget &parent)
{
    auto *hint = new ToggleBindingHint(&parent);
    if (hint->isDecided())
        return hint->isNeeded();
    QSignalSpy spy(hint, &ToggleBindingHint::neededChanged);
    if (!spy.wait(10000))
        return std::nullopt;
    return spy.first().first().toBool();
}
} // namespace

class TestToggleBindingHint : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;
    std::unique_ptr<AppState> m_state;
    std::unique_ptr<PermissionChecker> m_permissions;
    std::unique_ptr<LoginItemController> m_loginItem;
    std::unique_ptr<FirstRunFlag> m_flag;

    QString path(const QString &name) const { return m_dir.filePath(name); }

    MainWindowServices services()
    {
        MainWindowServices s;
        s.state = m_state.get();
        s.loginItem = m_loginItem.get();
        s.permissions = m_permissions.get();
        s.firstRun = m_flag.get();
        s.authSection = [](QWidget *parent) { return new QLabel(QStringLiteral("(账户)"), parent); };
        return s;
    }

    void saveShot(const QString &name, const QImage &image)
    {
        QVERIFY(!image.isNull());
        // Text shows against the background (the corner's colour): many pixels far from it.
        const int background = qGray(image.pixel(1, 1));
        int contrasting = 0;
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x)
                contrasting += std::abs(qGray(image.pixel(x, y)) - background) > 90;
        QVERIFY2(contrasting > 1500, qPrintable(name + u' ' + QString::number(contrasting)));
        QVERIFY(!Artifacts::save(label, name, image).isEmpty());
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY2(QGuiApplication::platformName() == QStringLiteral("xcb"), "run the tests through scripts/harness.sh");
        QVERIFY(m_dir.isValid());
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, path(QStringLiteral("config")));
        AppIdentity::install();
        QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
        AppState::Options options;
        options.settingsPath = path(QStringLiteral("state.ini"));
        m_state = std::make_unique<AppState>(options);
        PermissionChecker::Services permissions;
        permissions.microphone = Platform::microphonePermission(
            Platform::audioSystem(), std::make_unique<QSettings>(path(QStringLiteral("mic.ini")), QSettings::IniFormat));
        permissions.keys = Platform::keySynthesis();
        permissions.notifications = Platform::desktopNotifications();
        permissions.settings = Platform::systemSettings();
        m_permissions = std::make_unique<PermissionChecker>(std::move(permissions));
        m_loginItem = std::make_unique<LoginItemController>(Platform::loginItemService(
            {path(QStringLiteral("bin/murlex")), path(QStringLiteral("prefix")), path(QStringLiteral("autostart"))}));
        m_flag = std::make_unique<FirstRunFlag>(path(QStringLiteral("state.ini")));
    }

    void cleanup()
    {
        ToggleBindingHint::setSessionNeedsHint(std::nullopt);
        QApplication::setPalette(QApplication::style()->standardPalette());
    }

    // A Wayland session is told by XDG_SESSION_TYPE or a Wayland display; there the hint shows
    // exactly when the portal offers no GlobalShortcuts. Outside Wayland nothing is asked; a
    // decision given by whoever probed the session holds over both.
    void theSessionDecides()
    {
        QWidget parent;
        {
            const ScopedEnv type("XDG_SESSION_TYPE", "x11");
            const ScopedEnv display("WAYLAND_DISPLAY", QByteArray());
            QCOMPARE(decided(parent), std::optional(false));
            ToggleBindingHint::setSessionNeedsHint(true);
            ToggleBindingHint given(&parent);
            QVERIFY(given.isNeeded());
            QVERIFY(!given.isHidden());
            ToggleBindingHint::setSessionNeedsHint(std::nullopt);
        }

        const ScopedEnv type("XDG_SESSION_TYPE", "wayland");
        {
            ShortcutsPortal portal;
            QVERIFY2(portal.start(), qPrintable(portal.failure()));
            QCOMPARE(decided(parent), std::optional(false));
            // Decided once for the process: the next hint knows at once.
            ToggleBindingHint next(&parent);
            QVERIFY(!next.isNeeded());
            QVERIFY(next.isHidden());
        }
        ToggleBindingHint::setSessionNeedsHint(std::nullopt);
        {
            ShortcutsPortal portal;
            QVERIFY2(portal.start(false), qPrintable(portal.failure()));
            QCOMPARE(decided(parent), std::optional(true));
        }
    }

    // Each desktop's steps, and the line they use: the button puts exactly that line on the
    // clipboard, and it runs murlex --toggle.
    void showsTheDesktopsStepsAndCopiesTheLine_data()
    {
        QTest::addColumn<QString>("currentDesktop");
        QTest::addColumn<QString>("stepsMention");
        QTest::addColumn<QString>("line");
        QTest::newRow("GNOME") << "ubuntu:GNOME" << "键盘 → 查看及自定义快捷键 → 自定义快捷键" << "murlex --toggle";
        QTest::newRow("sway") << "sway" << "~/.config/sway/config" << "bindsym Ctrl+Alt+space exec murlex --toggle";
        QTest::newRow("Hyprland") << "Hyprland" << "hyprland.conf" << "bind = CTRL ALT, space, exec, murlex --toggle";
        QTest::newRow("unset") << "" << "自定义快捷键" << "murlex --toggle";
    }
    void showsTheDesktopsStepsAndCopiesTheLine()
    {
        QFETCH(QString, currentDesktop);
        QFETCH(QString, stepsMention);
        QFETCH(QString, line);
        QGuiApplication::clipboard()->setText(QStringLiteral("before"));
        QWidget window;
        ToggleBindingHint::Options options;
        options.needed = true;
        options.desktop = ToggleBindingHint::desktopFrom(currentDesktop);
        auto *hint = new ToggleBindingHint(options, &window);
        window.resize(520, 200);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QVERIFY(hint->isVisible());
        QVERIFY2(hint->stepsLabel()->text().contains(stepsMention), qPrintable(hint->stepsLabel()->text()));
        QCOMPARE(hint->commandLabel()->text(), line);

        QSignalSpy copied(hint, &ToggleBindingHint::copied);
        QTest::mouseClick(hint->copyButton(), Qt::LeftButton);
        QCOMPARE(copied.size(), 1);
        QTRY_COMPARE(QGuiApplication::clipboard()->text(), line);
        QCOMPARE(hint->copyButton()->text(), QStringLiteral("已复制"));

        options.needed = false;
        ToggleBindingHint hidden(options, &window);
        QVERIFY(hidden.isHidden());
    }

    // Where the person meets it: the settings' 快捷键 section and the guide's test page, in a
    // light and a dark palette, under GNOME.
    void screenshots_data()
    {
        QTest::addColumn<bool>("dark");
        QTest::newRow("light") << false;
        QTest::newRow("dark") << true;
    }
    void screenshots()
    {
        QFETCH(bool, dark);
        const QString theme = dark ? QStringLiteral("dark") : QStringLiteral("light");
        if (dark)
            QApplication::setPalette(Artifacts::darkPalette());
        const ScopedEnv desktop("XDG_CURRENT_DESKTOP", "GNOME");
        ToggleBindingHint::setSessionNeedsHint(true);
        m_state->refreshHotkeyShortcut(); // the default shortcut, stored on first use
        QVERIFY(m_state->hotkeyShortcut());

        SettingsTab settings(services());
        settings.resize(640, settings.sizeHint().height());
        settings.show();
        QVERIFY(QTest::qWaitForWindowExposed(&settings));
        QVERIFY(settings.toggleBindingHint()->isVisible());
        auto *section = settings.findChild<QWidget *>(QStringLiteral("快捷键"));
        QVERIFY(section);
        QVERIFY(section->geometry().contains(settings.toggleBindingHint()->mapTo(&settings, QPoint(0, 0))));
        QTest::qWait(100);
        saveShot(QStringLiteral("settings-shortcut-hint-") + theme, section->grab().toImage());

        OnboardingTestPage page(*m_state, [] {}, [] {}, OnboardingView::focusDelay);
        page.setFixedSize(OnboardingView::fixedSize);
        page.show();
        QVERIFY(QTest::qWaitForWindowExposed(&page));
        QVERIFY(page.toggleBindingHint()->isVisible());
        // Nothing of the page is pushed out of its fixed frame.
        for (QWidget *part : {static_cast<QWidget *>(page.toggleBindingHint()), static_cast<QWidget *>(page.textBox()),
                              static_cast<QWidget *>(page.primaryButton())}) {
            const QRect area(part->mapTo(&page, QPoint(0, 0)), part->size());
            QVERIFY2(page.rect().contains(area), part->metaObject()->className());
            QVERIFY2(part->height() >= part->minimumSizeHint().height(), part->metaObject()->className());
        }
        QTest::qWait(100);
        saveShot(QStringLiteral("first-run-test-page-hint-") + theme, page.grab().toImage());
    }
};

QTEST_MAIN(TestToggleBindingHint)
#include "tst_toggle_binding_hint.moc"
