#pragma once

#include "updater/mode_dispatch.h"

// Prepare mode is not built yet: it answers with this code instead of
// pretending to work.
constexpr int kExitModeNotBuilt = 199;

// The modes that updater.exe runs.
extern const ModeHandlers kUpdaterModes;
