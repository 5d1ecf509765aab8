// Keeps the statically linked C++ runtime small. Only updater.exe links this
// file; the tests keep the runtime's own versions.
//
// libstdc++ raises its container errors through the __throw_* functions of
// one object file that also drags in iostreams and locales, and its default
// terminate handler drags in the symbol demangler. Nothing in the program
// catches these exceptions: each would end the process through terminate.
// The replacements below end it through the same path directly, without
// pulling in that code.
#include "updater/unattended_process.h"

// A call to a pure or deleted virtual function (through an object under
// construction or destruction) ends the process at once, rather than first
// writing to a standard error that nobody reads.
extern "C" void __cxa_pure_virtual() { EndAbnormally(); }
extern "C" void __cxa_deleted_virtual() { EndAbnormally(); }

namespace __gnu_cxx {
void __verbose_terminate_handler() { EndAbnormally(); }
}  // namespace __gnu_cxx

namespace std {
void __throw_bad_alloc() { EndAbnormally(); }
void __throw_bad_array_new_length() { EndAbnormally(); }
void __throw_length_error(const char*) { EndAbnormally(); }
void __throw_logic_error(const char*) { EndAbnormally(); }
void __throw_out_of_range(const char*) { EndAbnormally(); }
void __throw_out_of_range_fmt(const char*, ...) { EndAbnormally(); }
void __throw_invalid_argument(const char*) { EndAbnormally(); }
void __throw_bad_exception() { EndAbnormally(); }
void __throw_bad_cast() { EndAbnormally(); }
void __throw_bad_typeid() { EndAbnormally(); }
void __throw_domain_error(const char*) { EndAbnormally(); }
void __throw_range_error(const char*) { EndAbnormally(); }
void __throw_overflow_error(const char*) { EndAbnormally(); }
void __throw_underflow_error(const char*) { EndAbnormally(); }
void __throw_runtime_error(const char*) { EndAbnormally(); }
void __throw_ios_failure(const char*) { EndAbnormally(); }
void __throw_ios_failure(const char*, int) { EndAbnormally(); }
void __throw_system_error(int) { EndAbnormally(); }
void __throw_future_error(int) { EndAbnormally(); }
void __throw_bad_function_call() { EndAbnormally(); }
}  // namespace std
