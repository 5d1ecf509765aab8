#pragma once

// updater.exe runs with nobody watching: started by the product, then by
// Windows at logon. Nothing may wait for a click, and every end must leave
// an exit code that means something.

// Called first thing at start-up. The system shows no critical-error box
// (a staging path on an empty removable drive fails with a code instead of
// asking for a disk), no open-file box and no fault box, and Windows Error
// Reporting is asked to show nothing; the C runtime writes its abort
// message to the (absent) standard error, not to a message box; and
// abort(), the runtime's invalid-parameter and pure-call handlers and every
// structured exception that nothing handles (an access violation, a stack
// overflow: the main thread and every JoinedThread keep stack back for it,
// base/joined_thread.h) end the process through EndAbnormally.
// std::terminate and the runtime's own error paths reach it through
// small_runtime.cpp, which replaces the runtime's handlers. Nothing is left
// for Windows Error Reporting: the platform's quiet report (queued, no
// window) would end the process with the exception's code instead of
// kExitAbnormal, so the trace line is the only record of a crash. A
// fail-fast end (__fastfail, heap corruption on newer systems) never
// reaches the program and ends with the system's own code.
void SetUpUnattendedProcess();

// The one abnormal end: an exception that nothing handles (COM that cannot
// start, memory that cannot be had outside the few places where that is an
// outcome, a thread that cannot be started, a structured exception), abort(),
// or a runtime error.
// Writes one line for a debugger and ends the process at once with
// kExitAbnormal, without running destructors or exit handlers, which could
// wait on locks that another thread holds.
[[noreturn]] void EndAbnormally();
