#include "updater/unattended_process.h"

#include <windows.h>

#include <csignal>
#include <cstdint>
#include <cstdlib>

#include "base/joined_thread.h"
#include "updater/exit_codes.h"

namespace {

// Windows Error Reporting's "show nothing" flag (Windows 8 and later; older
// systems refuse the call and SEM_NOGPFAULTERRORBOX alone keeps the box
// away).
constexpr DWORD kWerNoUi = 0x20;

void EndOnSignal(int) { EndAbnormally(); }

void EndOnInvalidParameter(const wchar_t*, const wchar_t*, const wchar_t*, unsigned,
                           std::uintptr_t) {
  EndAbnormally();
}

void EndOnPureCall() { EndAbnormally(); }

DWORD WINAPI EndOnFreshStack(void*) { EndAbnormally(); }

LONG WINAPI EndOnException(EXCEPTION_POINTERS* exception) {
  // After an overflow the thread has only the stack the system kept back:
  // 64-bit Wine keeps about one page whatever was asked, and writing the
  // trace line raises an exception of its own, which needs more. The end
  // then runs on a new thread's stack. The wait is bounded: a thread that
  // overflowed while holding the loader lock would keep the new one from
  // starting, and the process ends with its code either way.
  if (exception->ExceptionRecord->ExceptionCode == EXCEPTION_STACK_OVERFLOW) {
    const HANDLE ender = CreateThread(nullptr, 64 * 1024, &EndOnFreshStack, nullptr,
                                      STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr);
    if (ender != nullptr) WaitForSingleObject(ender, 5000);
    TerminateProcess(GetCurrentProcess(), kExitAbnormal);
  }
  EndAbnormally();
}

// The C runtime DLL's own handler setters. The import library's versions
// of these keep the handler to themselves (the runtime of older systems
// has no such call), so the DLL is asked directly; where it lacks them
// (before Windows Vista) its defaults end the process with its own code.
void RouteRuntimeHandlers() {
  const HMODULE runtime = GetModuleHandleW(L"msvcrt.dll");
  if (runtime == nullptr) return;
  using SetInvalidParameter = _invalid_parameter_handler(__cdecl*)(_invalid_parameter_handler);
  using SetPureCall = _purecall_handler(__cdecl*)(_purecall_handler);
  if (const auto set = reinterpret_cast<SetInvalidParameter>(reinterpret_cast<void*>(
          GetProcAddress(runtime, "_set_invalid_parameter_handler")))) {
    set(&EndOnInvalidParameter);
  }
  if (const auto set = reinterpret_cast<SetPureCall>(
          reinterpret_cast<void*>(GetProcAddress(runtime, "_set_purecall_handler")))) {
    set(&EndOnPureCall);
  }
}

// Asks Windows Error Reporting to show nothing for this process, where the
// system has the call: a fail-fast end reaches it without passing through
// this program.
void SilenceErrorReporting() {
  using WerSetFlagsCall = HRESULT(WINAPI*)(DWORD);
  const HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
  const auto setFlags = reinterpret_cast<WerSetFlagsCall>(
      reinterpret_cast<void*>(GetProcAddress(kernel, "WerSetFlags")));
  if (setFlags != nullptr) setFlags(kWerNoUi);
}

}  // namespace

void SetUpUnattendedProcess() {
  SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX | SEM_NOGPFAULTERRORBOX);
  _set_error_mode(_OUT_TO_STDERR);
  SilenceErrorReporting();
  std::signal(SIGABRT, &EndOnSignal);
  RouteRuntimeHandlers();
  ReserveOverflowStack();
  SetUnhandledExceptionFilter(&EndOnException);
}

void EndAbnormally() {
  // A fixed text: this may run because memory ran out.
  static_assert(kExitAbnormal == 3, "the line below names the exit code");
  OutputDebugStringW(L"updater: abnormal end, exit code 3\n");
  TerminateProcess(GetCurrentProcess(), kExitAbnormal);
  std::_Exit(kExitAbnormal);
}
