#pragma once

// updater.exe runs with nobody watching: started by the product, then by
// Windows at logon. Nothing may wait for a click, and every end must leave
// an exit code that means something.

// Called first thing at start-up. The system shows no critical-error box
// (a staging path on an empty removable drive fails with a code instead of
// asking for a disk), no open-file box and no fault box; the C runtime
// writes its abort message to the (absent) standard error, not to a message
// box; and abort() and every structured exception that nothing handles (an
// access violation, a stack overflow: every thread keeps stack back for it,
// base/joined_thread.h)
// end the process through EndAbnormally. std::terminate and the runtime's
// own error paths reach it through small_runtime.cpp, which replaces the
// runtime's handlers. Nothing is left for Windows Error Reporting: the
// platform's quiet report (queued, no window) would end the process with
// the exception's code instead of kExitAbnormal, so the trace line is the
// only record of a crash.
void SetUpUnattendedProcess();

// The one abnormal end: an exception that nothing handles (COM that cannot
// start, memory that cannot be had outside the few places where that is an
// outcome, a thread that cannot be started, a structured exception), abort(),
// or a runtime error.
// Writes one line for a debugger and ends the process at once with
// kExitAbnormal, without running destructors or exit handlers, which could
// wait on locks that another thread holds.
[[noreturn]] void EndAbnormally();
