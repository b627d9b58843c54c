#pragma once

#include "platform/DesktopNotifications.h"
#include "platform/KeySynthesis.h"
#include "platform/MicrophonePermission.h"
#include "platform/SystemSettings.h"

#include <QObject>
#include <QString>

#include <functional>
#include <memory>

// What the system allows the application to do, for the home tab, the settings and the first-run
// guide: the microphone (capture) and accessibility (the global shortcut and text injection).
// Reads them through the same platform services the capture engine and the injector use, asks
// for them, and opens the desktop's settings. Holds no state of its own; main thread only.
class PermissionChecker : public QObject {
    Q_OBJECT
public:
    using MicStatus = ::MicStatus;

    struct Services {
        std::shared_ptr<MicrophonePermission> microphone;
        std::shared_ptr<KeySynthesis> keys;
        std::shared_ptr<DesktopNotifications> notifications;
        std::shared_ptr<SystemSettings> settings;
    };

    // What promptAccessibility() tells the user when accessibility is missing.
    static QString accessibilityNoticeSummary();
    static QString accessibilityNoticeBody();

    explicit PermissionChecker(Services services, QObject *parent = nullptr);
    ~PermissionChecker() override;

    MicStatus micStatus();
    // Asks for the microphone; `completion` runs later on this object's (the main) thread with
    // the status read after the answer, whatever the answer itself was. Not called when this
    // object is gone by then.
    void requestMicrophone(std::function<void(MicStatus)> completion);

    bool isAccessibilityTrusted();
    // Where accessibility is missing, tells the user what is needed (a desktop notification);
    // does nothing where it is there.
    void promptAccessibility();

    void openMicrophoneSettings();
    void openAccessibilitySettings();

private:
    Services m_services;
};
