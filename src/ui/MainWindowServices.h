#pragma once

#include "ui/AccessibilityTrustPoll.h"

#include "BuildConfig.h"

#include <QString>

#include <chrono>
#include <functional>

class AppState;
class FirstRunFlag;
class HotWordsStore;
class LoginItemController;
class PermissionChecker;
class QWidget;

// What the main window shows and calls, handed in by whoever builds it. Everything pointed at
// must outlive the window.
struct MainWindowServices {
    AppState *state = nullptr;
    LoginItemController *loginItem = nullptr;
    PermissionChecker *permissions = nullptr;
    HotWordsStore *hotWords = nullptr;
    FirstRunFlag *firstRun = nullptr;

    // The settings' account section; empty: the application's own (AuthSection).
    std::function<QWidget *(QWidget *parent)> authSection;

    // What the login-item caption names: the running executable and the install prefix this build
    // was made for; empty: this process's.
    QString runningPath;
    QString installPrefix;

    // The version row's texts: this build's version and build number (an empty one counts as missing).
    QString shortVersion = QString::fromUtf8(BuildConfig::appVersion);
    QString buildVersion = QString::fromUtf8(BuildConfig::buildNumber);

    // How often a visible view re-reads the accessibility trust.
    std::chrono::milliseconds trustPollInterval = AccessibilityTrustPoll::defaultInterval;
};
