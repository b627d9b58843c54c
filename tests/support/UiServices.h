#pragma once

#include "app/AppState.h"
#include "ui/FirstRunFlag.h"
#include "ui/LoginItemController.h"
#include "ui/MainWindowServices.h"
#include "ui/PermissionChecker.h"
#include "store/HotWordsStore.h"

#include <QImage>
#include <QStringList>
#include <QTemporaryDir>

#include <memory>

// What the main window, its settings and the first-run guide are built on, over real components
// in a directory of their own: the state (its history file there too), the permissions as the
// application reads them, launch at login for a murlex installed under a prefix of its own, the
// hot words store over the real client, and the first-run flag. Only the trust
// in synthetic keys of permissions() is a stand-in (the X server's cannot be withdrawn and given
// back): `trusted`, every query noted in `trustQueries`.
class UiServices {
public:
    // From initTestCase (after the application object): the identity, the Fusion style, the
    // user's settings inside the directory, then the parts. False when one cannot be made.
    bool setUp();

    QString path(const QString &name) const { return m_dir.filePath(name); }
    AppState &state() { return *m_state; }
    PermissionChecker &permissions() { return *m_permissions; }
    LoginItemController &loginItem() { return *m_loginItem; }
    FirstRunFlag &firstRun() { return *m_firstRun; }
    // Made on first use: its client takes the transport installed then.
    HotWordsStore &hotWords();
    // Over the parts above, with an account section of the application's own, the caption naming
    // a development build and /usr/local.
    MainWindowServices services();

    // Options for a state of its own (a fresh settings file each time).
    AppState::Options freshState(bool launchServices = false);
    // Permissions read through the platform's own services (synthetic keys on `display`, empty:
    // the session's), with a microphone settings file of their own: a user never asked, or
    // (askedBefore) one who was asked once and answered granted, on the main thread, after the
    // request returned (null if not).
    std::unique_ptr<PermissionChecker> checker(bool askedBefore, const QByteArray &display = {});

    // Saves the screenshot under build/test/artifacts/<label>/ once it shows text: many pixels far
    // from the colour of its top-left corner (not empty boxes or nothing). False otherwise.
    static bool saveShot(const QString &label, const QString &name, const QImage &image, int minimumInk = 1500);

    bool trusted = true;
    int trustQueries = 0;

private:
    QTemporaryDir m_dir;
    int m_made = 0;
    std::unique_ptr<AppState> m_state;
    std::unique_ptr<PermissionChecker> m_permissions;
    std::unique_ptr<LoginItemController> m_loginItem;
    std::unique_ptr<FirstRunFlag> m_firstRun;
    std::unique_ptr<QSettings> m_hotWordsSettings;
    std::unique_ptr<HotWordsStore> m_hotWords;
};
