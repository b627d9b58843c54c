#pragma once

#include "platform/AudioSystem.h"
#include "platform/MicrophonePermission.h"

#include <QSettings>

#include <memory>

// The microphone authorisation on a plain Linux desktop, which has no system prompt: the status
// is `undetermined` until the application first asked (the settings flag
// "microphoneAccessRequested", written on the first request and kept), and from then on `granted`
// when the sound system's default input is a usable input device (an output's monitor is none),
// `denied` when it is not.
class LinuxMicrophonePermission final : public MicrophonePermission {
public:
    static constexpr const char *kRequestedKey = "microphoneAccessRequested";

    // `settings`: where the flag lives; nullptr means the application's settings.
    explicit LinuxMicrophonePermission(std::shared_ptr<AudioSystem> system, std::unique_ptr<QSettings> settings = {});

    MicStatus status() override;
    QCoro::Task<MicStatus> request() override;

private:
    bool hasUsableInput();

    std::shared_ptr<AudioSystem> m_system;
    std::unique_ptr<QSettings> m_settings;
};
