#pragma once

#include "base/unique_handle.h"

// HKLM\Software\Letterwing\Updater, in the registry view of the RunOnce key
// (WOW6432Node on 64-bit Windows): where the updater keeps what the
// product, an administrator and its own later runs read. Full control for
// SYSTEM and the Administrators group (its owner), reading for users.
extern const wchar_t kProductKey[];

// Creates or opens the key for reading and writing and gives it its access
// list (passed on to its sub-keys), also when somebody else made it first.
// ERROR_SUCCESS, or the registry's error when it cannot be created, opened
// or protected.
LONG OpenProductKey(UniqueRegistryKey* key);
