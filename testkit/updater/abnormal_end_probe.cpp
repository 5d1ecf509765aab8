// Set up as updater.exe is, with its runtime replacements, then ends in the
// way its argument names, each one a way the program could end without one
// of its own exit codes: a COM that cannot start, abort(), memory that
// cannot be had, a container error, an exception escaping a thread, an
// access violation, a stack overflow, an invalid parameter to the C runtime,
// a pure virtual function called. A way this system cannot show ends with
// kCannotShow and a trace line that says why. "window" instead opens a message box, which the
// no-window check must see.
#include <windows.h>

#include <objbase.h>

#include <cstdlib>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "updater/com_initializer.h"
#include "updater/unattended_process.h"

// A shape whose constructor calls its pure function through a pointer the
// compiler cannot see through. Outside the unnamed namespace: there the
// compiler knows every class that could override the function and calls
// the one it finds.
struct Shape;
Shape* volatile g_measured = nullptr;
struct Shape {
  Shape() {
    g_measured = this;
    Measure();
  }
  virtual ~Shape() = default;
  virtual int Area() const = 0;
  __attribute__((noinline)) static int Measure() { return g_measured->Area(); }
};
struct Square : Shape {
  int Area() const override { return 4; }
};

namespace {

// A depth no stack reaches; volatile, so that the recursion has an end the
// compiler cannot see past.
volatile unsigned g_deepest = 0xFFFFFFFFu;

// The exit code of a way this system cannot show; the probe's trace says
// why.
constexpr int kCannotShow = 77;

// Each frame holds a page the next one reads.
int Recurse(const volatile char* before, unsigned depth) {
  if (depth == g_deepest) return 0;
  volatile char frame[4096];
  frame[0] = static_cast<char>(before == nullptr ? 0 : before[0] + 1);
  return Recurse(frame, depth + 1) + frame[1];
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR commandLine, int) {
  SetUpUnattendedProcess();
  const std::wstring way = commandLine;
  if (way == L"com") {
    // COM already in another apartment: the updater's initialiser throws.
    CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    ComInitializer com;
  } else if (way == L"abort") {
    std::abort();
  } else if (way == L"memory") {
    // Called directly: a new-expression whose block is unused may be elided.
    void* volatile block = ::operator new(static_cast<std::size_t>(-1) / 2);
    ::operator delete(block);
  } else if (way == L"container") {
    std::vector<int> none;
    return none.at(static_cast<std::size_t>(way.size()));
  } else if (way == L"window") {
    MessageBoxW(nullptr, L"A window the no-window check must see", L"probe", MB_OK);
  } else if (way == L"thread") {
    std::thread([] { throw std::wstring(L"unhandled"); }).join();
  } else if (way == L"access") {
    *static_cast<volatile int*>(nullptr) = 1;
  } else if (way == L"overflow") {
    return Recurse(nullptr, 0);
  } else if (way == L"parameter") {
    // A null stream, which the runtime DLL refuses through its
    // invalid-parameter handler, where it has one to set.
    if (GetProcAddress(GetModuleHandleW(L"msvcrt.dll"), "_set_invalid_parameter_handler") ==
        nullptr) {
      OutputDebugStringW(L"probe: this msvcrt.dll has no invalid-parameter handler to set "
                         L"(Wine's, like Windows XP's): it reports an invalid parameter as an "
                         L"error return, and the program goes on\n");
      return kCannotShow;
    }
    return std::fclose(nullptr);
  } else if (way == L"purecall") {
    return Square().Area();
  }
  return 0;
}
