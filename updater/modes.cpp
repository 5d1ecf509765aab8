#include "updater/modes.h"

#include "updater/outcome_record.h"
#include "updater/process_launch.h"

namespace {

int RunInstall() { return RunInstallAndRecord(&LaunchAndWait); }

}  // namespace

const ModeHandlers kUpdaterModes = {&RunPrepareAndRecord, &RunInstall};
