#include "SpineRig.h"

SpineRig::SpineRig(DictationController::Timing timing, std::chrono::milliseconds errorResetDelay)
    : state(stateOptions(dir, errorResetDelay))
    , controller(engine, socket, injector, tokens, hotWords, &state, timing)
{
}

AppState::Options SpineRig::stateOptions(const QTemporaryDir &dir, std::chrono::milliseconds errorResetDelay)
{
    AppState::Options options;
    options.errorResetDelay = errorResetDelay;
    options.settingsPath = dir.filePath(QStringLiteral("settings.ini"));
    return options;
}
