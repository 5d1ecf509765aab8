#include "updater/modes.h"

#include "updater/install_mode.h"

namespace {

int PrepareModeNotBuilt(const std::wstring&, const std::wstring&, const std::wstring&) {
  return kExitModeNotBuilt;
}

}  // namespace

const ModeHandlers kUpdaterModes = {&PrepareModeNotBuilt, &RunInstallMode};
