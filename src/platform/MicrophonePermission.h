#pragma once

#include <QCoro/QCoroTask>

// Whether the application may record from the microphone.
enum class MicStatus { undetermined, granted, denied };

// The microphone authorisation of the platform. Main thread only.
class MicrophonePermission {
public:
    virtual ~MicrophonePermission() = default;
    // The status as it stands, without asking the user.
    virtual MicStatus status() = 0;
    // Asks for access (the user is asked only the first time) and answers with the status
    // read afterwards: granted or denied.
    virtual QCoro::Task<MicStatus> request() = 0;
};
