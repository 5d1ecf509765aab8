#pragma once

// Process exit codes of updater.exe, the program's only report.
enum ExitCode : int {
  kExitNothingDone = 0,          // no mode matched: nothing was done
  kExitPrepared = 0,             // prepare mode finished
  kExitAbnormal = 3,             // ended abnormally (see unattended_process.h)
  kExitArgvFailed = 124,         // the command line could not be split
  kExitNoArguments = 128,        // nothing after the program path
  kExitPackFailed = 141,         // the pack failed to load, verify or unpack
  kExitRunOnceFailed = 152,      // the RunOnce value could not be written
  kExitNoModulePath = 164,       // install mode: own path not available or not below a root
  kExitBusy = 165,               // install mode: the run lock busy or not to be had
  kExitPackageDiffers = 166,     // install mode: not the package prepare recorded
};
