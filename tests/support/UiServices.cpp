#include "UiServices.h"

#include "Artifacts.h"
#include "core/AppIdentity.h"
#include "platform/Platform.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QSettings>
#include <QStyleFactory>
#include <QThread>
#include <QtTest>

namespace {
class FakeKeySynthesis : public KeySynthesis {
public:
    explicit FakeKeySynthesis(UiServices &owner) : m_owner(owner) {}
    bool isTrusted() override
    {
        ++m_owner.trustQueries;
        return m_owner.trusted;
    }
    void promptForTrust() override {}
    bool nonModifierKeyHeld() override { return false; }
    void sendPasteChord(PasteChord) override {}

private:
    UiServices &m_owner;
};
} // namespace

bool UiServices::setUp()
{
    if (!m_dir.isValid())
        return false;
    AppIdentity::install();
    QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, path(QStringLiteral("config")));
    AppState::Options options;
    options.settingsPath = path(QStringLiteral("state.ini"));
    options.historyPath = path(QStringLiteral("history.json"));
    m_state = std::make_unique<AppState>(options);
    m_firstRun = std::make_unique<FirstRunFlag>(options.settingsPath);

    PermissionChecker::Services permissions;
    permissions.microphone = Platform::microphonePermission(
        Platform::audioSystem(), std::make_unique<QSettings>(path(QStringLiteral("mic.ini")), QSettings::IniFormat));
    permissions.keys = std::make_shared<FakeKeySynthesis>(*this);
    permissions.notifications = Platform::desktopNotifications();
    permissions.settings = Platform::systemSettings();
    m_permissions = std::make_unique<PermissionChecker>(std::move(permissions));

    QFile executable(path(QStringLiteral("prefix/bin/murlex")));
    if (!QDir().mkpath(path(QStringLiteral("prefix/bin"))) || !executable.open(QIODevice::WriteOnly))
        return false;
    executable.close();
    m_loginItem = std::make_unique<LoginItemController>(Platform::loginItemService(
        {executable.fileName(), path(QStringLiteral("prefix")), path(QStringLiteral("autostart"))}));
    return true;
}

MainWindowServices UiServices::services()
{
    MainWindowServices s;
    s.state = m_state.get();
    s.loginItem = m_loginItem.get();
    s.permissions = m_permissions.get();
    s.firstRun = m_firstRun.get();
    s.hotWords = &hotWords();
    s.runningPath = QStringLiteral("/home/ada/murlex/build/dev/src/murlex");
    s.installPrefix = QStringLiteral("/usr/local");
    return s;
}

HotWordsStore &UiServices::hotWords()
{
    if (!m_hotWords) {
        m_hotWordsSettings = std::make_unique<QSettings>(path(QStringLiteral("hotwords.ini")), QSettings::IniFormat);
        m_hotWords = HotWordsStore::create(*m_hotWordsSettings);
    }
    return *m_hotWords;
}

AppState::Options UiServices::freshState(bool launchServices)
{
    AppState::Options options;
    options.settingsPath = path(QStringLiteral("state-%1.ini").arg(++m_made));
    options.launchServices = launchServices;
    return options;
}

std::unique_ptr<PermissionChecker> UiServices::checker(bool askedBefore, const QByteArray &display)
{
    PermissionChecker::Services services;
    services.microphone = Platform::microphonePermission(
        Platform::audioSystem(), std::make_unique<QSettings>(path(QStringLiteral("mic-%1.ini").arg(++m_made)), QSettings::IniFormat));
    services.keys = Platform::keySynthesis(display);
    services.notifications = Platform::desktopNotifications();
    services.settings = Platform::systemSettings();
    auto permissions = std::make_unique<PermissionChecker>(std::move(services));
    if (!askedBefore)
        return permissions;
    struct Answer {
        bool returned = false;
        std::optional<MicStatus> status;
        bool onMainThread = false;
    };
    auto answer = std::make_shared<Answer>();
    permissions->requestMicrophone([answer](MicStatus status) {
        // Never inside the request call itself.
        answer->status = answer->returned ? std::optional(status) : std::nullopt;
        answer->onMainThread = QThread::currentThread() == QCoreApplication::instance()->thread();
    });
    answer->returned = true;
    if (!QTest::qWaitFor([&] { return answer->status.has_value(); }, 10000) || answer->status != MicStatus::granted
        || !answer->onMainThread || permissions->micStatus() != MicStatus::granted)
        return nullptr;
    return permissions;
}

bool UiServices::saveShot(const QString &label, const QString &name, const QImage &image, int minimumInk)
{
    if (image.isNull())
        return false;
    const int background = qGray(image.pixel(1, 1));
    int ink = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            ink += std::abs(qGray(image.pixel(x, y)) - background) > 90;
    if (ink < minimumInk)
        qWarning("%s shows too little text: %d pixels", qPrintable(name), ink);
    return ink >= minimumInk && !Artifacts::save(label, name, image).isEmpty();
}
