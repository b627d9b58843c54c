#pragma once

#include "platform/ProcessInfo.h"

// Usage figures from getrusage() and /proc/self, the OS version from os-release.
class LinuxProcessInfo : public ProcessInfo {
public:
    ResourceUsage resourceUsage() const override;
    QString osVersion() const override;
    QString platformName() const override;
    uint userId() const override;
};
