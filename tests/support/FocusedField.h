#pragma once

#include "ExternalTool.h"
#include "HelperProcess.h"

#include <memory>

// The injection_target helper (a text field in a process of its own, saying on stdout what reaches
// it) shown and given the keyboard focus on the X server of `environment`; null when it could not be.
inline std::unique_ptr<HelperProcess> focusedField(const QStringList &arguments = {},
                                                   const QProcessEnvironment &environment = QProcessEnvironment::systemEnvironment())
{
    auto field = std::make_unique<HelperProcess>(QStringLiteral("injection_target"), arguments, environment);
    const auto window = field->waitForLine(QStringLiteral("window "));
    if (!window || !ExternalTool::xdotool({QStringLiteral("windowfocus"), QStringLiteral("--sync"), *window})
        || !field->waitForLine(QStringLiteral("active")))
        return nullptr;
    return field;
}
