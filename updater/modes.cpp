#include "updater/modes.h"

namespace {

int PrepareModeNotBuilt(const std::wstring&, const std::wstring&, const std::wstring&) {
  return kExitModeNotBuilt;
}

int InstallModeNotBuilt() { return kExitModeNotBuilt; }

}  // namespace

const ModeHandlers kUpdaterModes = {&PrepareModeNotBuilt, &InstallModeNotBuilt};
