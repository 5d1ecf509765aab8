#pragma once

#include "updater/mode_dispatch.h"

// The modes that updater.exe runs: prepare mode and install mode, each
// writing the record of its outcome (outcome_record.h).
extern const ModeHandlers kUpdaterModes;
