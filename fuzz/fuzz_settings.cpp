// The settings file as a person or a damaged disk may leave it: every stored value the
// application reads at launch, read the way it reads them from the bytes of
// <config>/quillfen/MurlexMac.conf: debugMode, the dictation shortcut, the hot words cache and
// the queue of hot word changes. The launch check runs first, as in the application: a file it
// sets aside is not read.

#include "FuzzSupport.h"

#include "core/AppIdentity.h"
#include "shortcuts/Name.h"
#include "shortcuts/StoredShortcut.h"
#include "store/HotWordsSettings.h"
#include "store/SettingsFileCheck.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QSettings>

namespace {
QString settingsPath;
qint64 generation = 0;

// The key AppState keeps debugMode under (AppState::debugModeKey; AppState itself is the whole
// application and is not built here).
constexpr const char *debugModeKey = "debugMode";
} // namespace

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    FuzzSupport::quietQt();
    static QCoreApplication app(*argc, *argv);
    // As ApplicationMain sets them, so QSettings() opens the file the application opens.
    AppIdentity::install();
    const QString configHome = FuzzSupport::scratchDirectory();
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, configHome);
    QDir(configHome).mkpath(QLatin1String(AppIdentity::organization));
    settingsPath = configHome + QStringLiteral("/%1/%2.conf").arg(QLatin1String(AppIdentity::organization),
                                                                   QLatin1String(AppIdentity::applicationName));
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    {
        QFile file(settingsPath);
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
            FuzzSupport::fail("cannot write the settings file");
        file.write(reinterpret_cast<const char *>(data), qint64(size));
        // QSettings keeps a parsed file while its size and time stamp stay the same: every input
        // gets a time stamp of its own, so each one is read afresh.
        file.setFileTime(QDateTime::fromSecsSinceEpoch(++generation), QFileDevice::FileModificationTime);
    }

    if (const std::optional<QString> aside = SettingsFileCheck::setAsideIfUnsafe(settingsPath)) {
        QFile::remove(*aside);
        return 0;
    }

    const QSettings settings;
    (void)settings.value(QLatin1String(debugModeKey), false).toBool();

    const QVariant storedShortcut =
        settings.value(QString(KeyboardShortcuts::Name::keyPrefix) + QStringLiteral("toggleDictation"));
    if (const auto shortcut = KeyboardShortcuts::StoredShortcut::fromSettingsValue(storedShortcut)) {
        const auto again = KeyboardShortcuts::StoredShortcut::decode(KeyboardShortcuts::StoredShortcut::encode(*shortcut));
        FuzzSupport::check(again == shortcut, "a stored shortcut does not survive being stored again");
    }

    (void)HotWordsSettings::cachedWords(settings);
    if (const auto ops = HotWordsSettings::pendingOps(settings)) {
        // What the store writes back must read as the same queue.
        const QByteArray encoded = PendingOp::encode(*ops);
        FuzzSupport::check(PendingOp::decode(encoded) == ops, "a queue does not survive being stored again");
    }
    return 0;
}
