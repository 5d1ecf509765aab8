#pragma once

#include <windows.h>

#include <string>
#include <utility>
#include <vector>

namespace testkit {

// The prefix-global state that the update's tests touch: the list of file
// operations pending until the next restart, and the updater's RunOnce
// value. Guards record it when made and put it back when they go, so that a
// test leaves the prefix as it found it (every new wineserver acts as a
// restart and would carry out whatever is left).

// Reads a registry value's type and bytes; false when it cannot be read.
bool ReadRegistryValue(HKEY root, const wchar_t* subKey, const wchar_t* name, DWORD* type,
                       std::vector<BYTE>* data);
// Writes the value when `present`, removes it otherwise; true when the
// value is as asked afterwards.
bool WriteOrDeleteRegistryValue(HKEY root, const wchar_t* subKey, const wchar_t* name,
                                bool present, DWORD type, const std::vector<BYTE>& data);

// One pending operation: the source as the list stores it ("\??\C:\x") and
// the target, empty for a deletion.
using PendingOperation = std::pair<std::wstring, std::wstring>;

// The operations pending now, in order.
std::vector<PendingOperation> PendingOperations();

class PendingOperationsGuard {
 public:
  PendingOperationsGuard();
  ~PendingOperationsGuard();
  PendingOperationsGuard(const PendingOperationsGuard&) = delete;
  PendingOperationsGuard& operator=(const PendingOperationsGuard&) = delete;

  // Puts the list back byte for byte as it was recorded (or removes it if
  // there was none); true when that worked.
  bool Restore();
  // Empties the list; it is still put back when the guard goes.
  void Clear();
  // Deletions (operations without a target) registered since the guard was
  // made or last cleared, in order, in the stored "\??\" form.
  std::vector<std::wstring> AddedDeletions() const;

 private:
  bool present_ = false;
  DWORD type_ = REG_MULTI_SZ;
  std::vector<BYTE> data_;
  size_t baseline_ = 0;
};

// The product's key, where the updater keeps its records.
extern const wchar_t kProductKey[];

// The updater's values under HKLM's RunOnce key: "!letterwing_update_runonce"
// and the one install mode schedules itself again under.
extern const wchar_t kRunOnceValue[];
extern const wchar_t kRunOnceAgainValue[];

// A RunOnce value of the updater's: false when there is none, else true
// with its data read as UTF-16 text (whatever its type, so that a value of
// the wrong type still shows).
bool ReadRunOnceValue(std::wstring* text, const wchar_t* name = kRunOnceValue);
// Removes the value; true when there was one.
bool DeleteRunOnceValue(const wchar_t* name = kRunOnceValue);

// Records both of the updater's RunOnce values and the package record's
// values, removes them, and puts them back when it goes; removes the
// records of the modes' outcomes ("Prepare" and "Install" below the
// product's key) when made and again when it goes.
class UpdaterRegistryGuard {
 public:
  UpdaterRegistryGuard();
  ~UpdaterRegistryGuard();
  UpdaterRegistryGuard(const UpdaterRegistryGuard&) = delete;
  UpdaterRegistryGuard& operator=(const UpdaterRegistryGuard&) = delete;

 private:
  struct Saved {
    const wchar_t* key = nullptr;
    const wchar_t* name = nullptr;
    bool present = false;
    DWORD type = REG_SZ;
    std::vector<BYTE> data;
  };
  std::vector<Saved> saved_;
};

}  // namespace testkit
