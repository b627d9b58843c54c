// test-labels: wayland
// How to bind `murlex --toggle` where the shortcut cannot reach every window: decided by the
// session probe of the start (the real desktop portal on the harness's bus, with and without
// GlobalShortcuts), written with the person's shortcut in each desktop's syntax, shown in the
// settings' 快捷键 section and on the guide's test page, and copied to the clipboard. Screenshots
// go to build/test/artifacts/wayland/.
#include "Artifacts.h"
#include "DesktopPortal.h"
#include "TaskResult.h"
#include "UiServices.h"
#include "platform/Platform.h"
#include "shortcuts/GlobalHotkey.h"
#include "shortcuts/KeyboardShortcuts.h"
#include "shortcuts/ModifierFlags.h"
#include "ui/OnboardingTestPage.h"
#include "ui/OnboardingView.h"
#include "ui/SettingsTab.h"
#include "ui/ToggleBindingHint.h"

#include <QApplication>
#include <QClipboard>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QStyle>
#include <QVBoxLayout>
#include <QtTest>

using KeyboardShortcuts::Key;
using KeyboardShortcuts::ModifierFlags;
using KeyboardShortcuts::Shortcut;
using Desktop = ToggleBindingHint::Desktop;

namespace {
const QString label = QStringLiteral("wayland");

// What the start-up probe finds in a session of this type, with the portal as it runs now.
std::optional<DesktopSession> probed(const QByteArray &sessionType)
{
    qputenv("XDG_SESSION_TYPE", sessionType);
    return taskResult(Platform::probeDesktopSession(), 10000);
}
} // namespace

class TestToggleBindingHint : public QObject {
    Q_OBJECT

    UiServices m_ui;

    void setShortcut(const std::optional<Shortcut> &shortcut)
    {
        KeyboardShortcuts::setShortcut(shortcut, GlobalHotkey::toggleDictation());
        m_ui.state().refreshHotkeyShortcut();
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY2(QGuiApplication::platformName() == QStringLiteral("xcb"), "run the tests through scripts/harness.sh");
        QVERIFY(m_ui.setUp());
    }

    void cleanup()
    {
        m_ui.state().setDesktopSession(std::nullopt);
        qputenv("XDG_SESSION_TYPE", "x11");
        qunsetenv("XDG_CURRENT_DESKTOP");
        QApplication::setPalette(QApplication::style()->standardPalette());
    }

    // Undecided and hidden until the state has the probe's answer; then shown exactly in a Wayland
    // session whose portal offers no GlobalShortcuts, in the hints made before and after.
    void theSessionProbeDecides()
    {
        QWidget parent;
        auto *before = new ToggleBindingHint(m_ui.state(), &parent);
        QVERIFY(!before->isDecided() && before->isHidden());
        QSignalSpy decided(before, &ToggleBindingHint::neededChanged);
        {
            DesktopPortal portal;
            QVERIFY2(portal.start({}), qPrintable(portal.failure()));
            m_ui.state().setDesktopSession(probed("x11"));
            QVERIFY(before->isDecided() && !before->isNeeded() && before->isHidden());
            QCOMPARE(decided.size(), 1);

            m_ui.state().setDesktopSession(probed("wayland"));
            QVERIFY(before->isNeeded() && !before->isHidden());
            QCOMPARE(decided.last().first().toBool(), true);
            ToggleBindingHint after(m_ui.state(), &parent);
            QVERIFY(after.isNeeded() && !after.isHidden());
        }
        DesktopPortal portal;
        QVERIFY2(portal.startShortcuts(), qPrintable(portal.failure()));
        const auto withShortcuts = probed("wayland");
        QCOMPARE(withShortcuts.value_or(DesktopSession{}).globalShortcutsPortal, 1u);
        m_ui.state().setDesktopSession(withShortcuts);
        QVERIFY(before->isDecided() && !before->isNeeded() && before->isHidden());

        m_ui.state().setDesktopSession(std::nullopt);
        QVERIFY(!before->isDecided() && before->isHidden());
    }

    // The line and the steps carry the person's shortcut in each desktop's own syntax (keysym
    // names as xkb writes them), follow a new one at once, and fall back to Control+Alt+Space
    // where there is none or the desktop cannot write it. The button copies exactly the line
    // shown.
    void writesThePersonsShortcutForEachDesktop()
    {
        struct Case {
            std::optional<Shortcut> shortcut;
            QString sway, hyprland, shown;
        };
        const QString fallbackSway = QStringLiteral("bindsym Ctrl+Alt+space exec murlex --toggle");
        const QString fallbackHyprland = QStringLiteral("bind = CTRL ALT, space, exec, murlex --toggle");
        const QString fallbackShown = QStringLiteral("例如 Ctrl+Alt+空格");
        const QList<Case> cases{
            {std::nullopt, fallbackSway, fallbackHyprland, fallbackShown},
            {Shortcut::fromKey(Key::k, ModifierFlags::control | ModifierFlags::shift),
             QStringLiteral("bindsym Ctrl+Shift+k exec murlex --toggle"),
             QStringLiteral("bind = CTRL SHIFT, k, exec, murlex --toggle"), QStringLiteral("Ctrl+Shift+K(")},
            {Shortcut::fromKey(Key::returnKey, ModifierFlags::option | ModifierFlags::command),
             QStringLiteral("bindsym Alt+Mod4+Return exec murlex --toggle"),
             QStringLiteral("bind = ALT SUPER, Return, exec, murlex --toggle"), QStringLiteral("Alt+Super+")},
            {Shortcut::fromKey(Key::f5, 0), QStringLiteral("bindsym F5 exec murlex --toggle"),
             QStringLiteral("bind = , F5, exec, murlex --toggle"), QStringLiteral("再按下 F5(")},
            {Shortcut::fromKey(Key::space, ModifierFlags::function | ModifierFlags::control), fallbackSway, fallbackHyprland,
             fallbackShown},
        };
        QWidget window;
        auto *layout = new QVBoxLayout(&window);
        ToggleBindingHint *hints[4];
        const Desktop desktops[4] = {Desktop::sway, Desktop::hyprland, Desktop::gnome, Desktop::other};
        for (int i = 0; i < 4; ++i)
            layout->addWidget(hints[i] = new ToggleBindingHint(m_ui.state(), {.desktop = desktops[i], .clipboard = {}}));
        m_ui.state().setDesktopSession(DesktopSession{.kind = DesktopSession::Kind::wayland});
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));

        for (const Case &c : cases) {
            setShortcut(c.shortcut);
            const QString keys = c.shortcut ? c.shortcut->description() : QStringLiteral("none");
            QCOMPARE(hints[0]->commandLabel()->text(), c.sway);
            QCOMPARE(hints[1]->commandLabel()->text(), c.hyprland);
            QCOMPARE(hints[2]->commandLabel()->text(), QStringLiteral("murlex --toggle"));
            QCOMPARE(hints[3]->commandLabel()->text(), QStringLiteral("murlex --toggle"));
            QVERIFY2(hints[2]->stepsLabel()->text().contains(c.shown), qPrintable(keys + u' ' + hints[2]->stepsLabel()->text()));
        }
        QSignalSpy copied(hints[1], &ToggleBindingHint::copied);
        QTest::mouseClick(hints[1]->copyButton(), Qt::LeftButton);
        QCOMPARE(copied.size(), 1);
        QTRY_COMPARE(QGuiApplication::clipboard()->text(), cases.last().hyprland);
        QCOMPARE(hints[1]->copyButton()->text(), QStringLiteral("已复制"));
        // A new shortcut offers the copy again.
        setShortcut(std::nullopt);
        QCOMPARE(hints[1]->copyButton()->text(), QStringLiteral("复制"));
    }

    // Where the person meets it: the settings' 快捷键 section and the guide's test page, in a
    // light and a dark palette, with their own shortcut; nothing of the guide's fixed page pushed
    // out of its frame, even by GNOME's steps, the longest.
    void screenshots_data()
    {
        QTest::addColumn<bool>("dark");
        QTest::addColumn<QByteArray>("desktop");
        QTest::addColumn<QString>("line");
        QTest::addColumn<QString>("steps");
        QTest::newRow("light") << false << QByteArray("Hyprland") << "bind = CTRL ALT, d, exec, murlex --toggle" << "hyprland.conf";
        QTest::newRow("dark") << true << QByteArray("sway") << "bindsym Ctrl+Alt+d exec murlex --toggle" << "sway/config";
        QTest::newRow("gnome") << false << QByteArray("ubuntu:GNOME") << "murlex --toggle" << "键盘 → 查看及自定义快捷键";
    }
    void screenshots()
    {
        QFETCH(bool, dark);
        QFETCH(QByteArray, desktop);
        QFETCH(QString, line);
        QFETCH(QString, steps);
        const QString name = QString::fromLatin1(QTest::currentDataTag());
        if (dark)
            QApplication::setPalette(Artifacts::darkPalette());
        qputenv("XDG_CURRENT_DESKTOP", desktop);
        setShortcut(Shortcut::fromKey(Key::d, ModifierFlags::control | ModifierFlags::option));
        m_ui.state().setDesktopSession(DesktopSession{.kind = DesktopSession::Kind::wayland});

        SettingsTab settings(m_ui.services());
        settings.resize(640, settings.sizeHint().height());
        settings.show();
        QVERIFY(QTest::qWaitForWindowExposed(&settings));
        QVERIFY(settings.toggleBindingHint()->isVisible());
        QCOMPARE(settings.toggleBindingHint()->commandLabel()->text(), line);
        QVERIFY(settings.toggleBindingHint()->stepsLabel()->text().contains(steps));
        auto *section = settings.findChild<QWidget *>(QStringLiteral("快捷键"));
        QVERIFY(section && section->geometry().contains(settings.toggleBindingHint()->mapTo(&settings, QPoint(0, 0))));
        QTest::qWait(100);
        QVERIFY(UiServices::saveShot(label, QStringLiteral("settings-shortcut-hint-") + name, section->grab().toImage()));

        OnboardingTestPage page(m_ui.state(), [] {}, [] {}, OnboardingView::focusDelay);
        page.setFixedSize(OnboardingView::fixedSize);
        page.show();
        QVERIFY(QTest::qWaitForWindowExposed(&page));
        QVERIFY(page.toggleBindingHint()->isVisible());
        for (QWidget *part : {static_cast<QWidget *>(page.toggleBindingHint()), static_cast<QWidget *>(page.textBox()),
                              static_cast<QWidget *>(page.primaryButton())}) {
            const QRect area(part->mapTo(&page, QPoint(0, 0)), part->size());
            QVERIFY2(page.rect().contains(area), part->metaObject()->className());
            QVERIFY2(part->height() >= part->minimumSizeHint().height(), part->metaObject()->className());
        }
        QTest::qWait(100);
        QVERIFY(UiServices::saveShot(label, QStringLiteral("first-run-test-page-hint-") + name, page.grab().toImage()));
    }
};

QTEST_MAIN(TestToggleBindingHint)
#include "tst_toggle_binding_hint.moc"
