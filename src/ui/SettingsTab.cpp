#include "ui/SettingsTab.h"

#include "app/AppState.h"
#include "audio/InputLevelMeter.h"
#include "platform/InputSources.h"
#include "platform/Platform.h"
#include "platform/LoginItemService.h"
#include "shortcuts/GlobalHotkey.h"
#include "shortcuts/Recorder.h"
#include "store/DictationPreferences.h"
#include "net/BackendConfig.h"
#include "ui/AboutSection.h"
#include "ui/AuthSection.h"
#include "ui/FirstRunFlag.h"
#include "ui/LoginItemRow.h"
#include "ui/MUTheme.h"
#include "ui/MicrophoneRow.h"
#include "ui/ResultOptionsRow.h"
#include "ui/ShortcutModeRow.h"
#include "ui/SoundCuesRow.h"
#include "ui/StatusSection.h"
#include "ui/TextPathRow.h"
#include "ui/ToggleBindingHint.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QVBoxLayout>

SettingsTab::SettingsTab(const MainWindowServices &services, QWidget *parent) : QWidget(parent)
{
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(28, 24, 28, 24);
    layout->setSpacing(18);
    AppState *state = services.state;

    // 启动
    QString runningPath = services.runningPath;
    QString installPrefix = services.installPrefix;
    if (runningPath.isEmpty() || installPrefix.isEmpty()) {
        const LoginItemService::Paths paths = LoginItemService::Paths::current();
        if (runningPath.isEmpty())
            runningPath = paths.executable;
        if (installPrefix.isEmpty())
            installPrefix = paths.installPrefix;
    }
    m_loginItemRow = new LoginItemRow(*services.loginItem, runningPath, installPrefix);
    layout->addWidget(section(QStringLiteral("启动"), m_loginItemRow));

    // 快捷键
    auto *shortcut = new QWidget;
    auto *shortcutLayout = new QVBoxLayout(shortcut);
    shortcutLayout->setContentsMargins(0, 0, 0, 0);
    auto *recorderRow = new QHBoxLayout;
    auto *recorderLabel = new QLabel(QStringLiteral("开始/停止录音"));
    m_recorder = new KeyboardShortcuts::Recorder(
        GlobalHotkey::toggleDictation(), [state = QPointer<AppState>(state)](const auto &) {
            if (state)
                state->refreshHotkeyShortcut();
        });
    recorderLabel->setBuddy(m_recorder);
    recorderRow->addWidget(recorderLabel);
    recorderRow->addStretch(1);
    recorderRow->addWidget(m_recorder);
    shortcutLayout->addLayout(recorderRow);
    m_shortcutWarning = new QLabel(QStringLiteral("未设置快捷键,无法触发录音。点击上方录入框设置一个。"));
    m_shortcutWarning->setWordWrap(true);
    QPalette warning = m_shortcutWarning->palette();
    warning.setColor(QPalette::WindowText, MUTheme::warning());
    m_shortcutWarning->setPalette(warning);
    shortcutLayout->addWidget(m_shortcutWarning);
    m_toggleBindingHint = new ToggleBindingHint(*state, shortcut);
    shortcutLayout->addWidget(m_toggleBindingHint);
    shortcutLayout->addWidget(new ShortcutModeRow(state->preferences()));
    auto showWarning = [this, state] { m_shortcutWarning->setVisible(!state->hotkeyShortcut()); };
    connect(state, &AppState::hotkeyShortcutChanged, m_shortcutWarning, showWarning);
    showWarning();
    layout->addWidget(section(QStringLiteral("快捷键"), shortcut));

    // 录音
    auto *recording = new QWidget;
    auto *recordingLayout = new QVBoxLayout(recording);
    recordingLayout->setContentsMargins(0, 0, 0, 0);
    recordingLayout->addWidget(new MicrophoneRow(*state, Platform::inputSources(),
                                                 std::make_unique<InputLevelMeter>(Platform::audioSystem())));
    recordingLayout->addWidget(new SoundCuesRow(state->preferences()));
    layout->addWidget(section(QStringLiteral("录音"), recording));
    // 听写结果, with how the text is written
    auto *results = new QWidget;
    auto *resultsLayout = new QVBoxLayout(results);
    resultsLayout->setContentsMargins(0, 0, 0, 0);
    resultsLayout->addWidget(new ResultOptionsRow(state->preferences()));
    resultsLayout->addSpacing(6);
    m_textPathRow = new TextPathRow(*state);
    resultsLayout->addWidget(m_textPathRow);
    layout->addWidget(section(QStringLiteral("听写结果"), results));

    // 认证
    m_authSection = services.authSection
                        ? services.authSection(nullptr)
                        : new AuthSection({.supportEmail = QString::fromLatin1(BackendConfig::supportEmail), .openUrl = {}});
    layout->addWidget(section(QStringLiteral("认证"), m_authSection));

    // 状态
    m_statusSection = new StatusSection(*state, *services.permissions, services.trustPollInterval);
    layout->addWidget(section(QStringLiteral("状态"), m_statusSection));

    // 关于
    m_aboutSection = new AboutSection(services.shortVersion, services.buildVersion);
    layout->addWidget(section(QStringLiteral("关于"), m_aboutSection));

    // 引导
    auto *replay = new QWidget;
    auto *replayLayout = new QHBoxLayout(replay);
    replayLayout->setContentsMargins(0, 0, 0, 0);
    replayLayout->addWidget(new QLabel(QStringLiteral("重看首启引导")));
    replayLayout->addStretch(1);
    m_replay = new QPushButton(QStringLiteral("重看"));
    FirstRunFlag *firstRun = services.firstRun;
    connect(m_replay, &QPushButton::clicked, this, [firstRun] { firstRun->setCompletedOnboarding(false); });
    replayLayout->addWidget(m_replay);
    layout->addWidget(section(QStringLiteral("引导"), replay));
    layout->addStretch(1);
}

QWidget *SettingsTab::section(const QString &title, QWidget *body)
{
    QWidget *section = MUTheme::groupedSection(title, body);
    m_sections << section;
    return section;
}

QStringList SettingsTab::sectionTitles() const
{
    QStringList titles;
    for (const QWidget *section : m_sections)
        titles << section->objectName();
    return titles;
}
