#pragma once

#include "HelperProcess.h"

#include <QProcessEnvironment>
#include <QStringList>

#include <memory>

// The injection_target helper (a text field in a process of its own, saying on stdout what reaches
// it) shown and given the keyboard focus on the X server of `environment`; null when it could not be.
std::unique_ptr<HelperProcess> focusedField(const QStringList &arguments = {},
                                            const QProcessEnvironment &environment = QProcessEnvironment::systemEnvironment());
