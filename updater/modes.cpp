#include "updater/modes.h"

#include "updater/install_mode.h"
#include "updater/prepare_mode.h"

const ModeHandlers kUpdaterModes = {&RunPrepareMode, &RunInstallMode};
