#pragma once

#include "updater/mode_dispatch.h"

// The modes that updater.exe runs: prepare mode and install mode.
extern const ModeHandlers kUpdaterModes;
