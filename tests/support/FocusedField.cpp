#include "FocusedField.h"

#include "ExternalTool.h"

std::unique_ptr<HelperProcess> focusedField(const QStringList &arguments, const QProcessEnvironment &environment)
{
    auto field = std::make_unique<HelperProcess>(QStringLiteral("injection_target"), arguments, environment);
    const auto window = field->waitForLine(QStringLiteral("window "));
    if (!window || !ExternalTool::xdotool({QStringLiteral("windowfocus"), QStringLiteral("--sync"), *window})
        || !field->waitForLine(QStringLiteral("active")))
        return nullptr;
    return field;
}
