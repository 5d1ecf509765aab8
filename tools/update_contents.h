#pragma once

#include <cstdint>
#include <string>

// What a payload must hold to install as an update, beyond unpacking
// whole: under the sub-directory that prepare is given, the updater that
// install mode runs ("updater.exe", a Windows GUI program for the machine
// the release targets) and the package it hands to the Windows Installer
// ("letterwing.msi"), both as files. Names compare as the program's set
// rule compares them (archive/entry_set_rule.h), case ignored.

enum class UpdateMachine {
  I686,  // the shipped program: 32-bit x86
  X64,   // the 64-bit stand-in that tests build where no 32-bit code runs
};

enum class UpdateVerdict {
  Ok,
  NoUpdater,        // no file entry "<sub>/updater.exe"
  UpdaterNotImage,  // it is no Windows GUI program for the machine
  NoPackage,        // no file entry "<sub>/letterwing.msi"
};

// Stable one-word names for the verdicts.
const char* UpdateVerdictToken(UpdateVerdict verdict);

struct UpdateReport {
  UpdateVerdict verdict = UpdateVerdict::Ok;
  std::string message;  // why, for a refusal
};

// Judges a payload that unpacks whole (payload_check.h accepted it).
UpdateReport CheckUpdateContents(const unsigned char* payload, std::uint32_t size,
                                 const std::string& subDirectory, UpdateMachine machine);

// True when the bytes begin an executable image of the Windows GUI
// subsystem for the machine, not a DLL; otherwise false with the reason.
bool IsWindowsGuiImage(const unsigned char* bytes, std::size_t size, UpdateMachine machine,
                       std::string* why);
