#include "base/scope_guard.h"

#include <windows.h>
#include <wincrypt.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <new>
#include <stdexcept>

// The replaced global operators below pair malloc with free; GCC cannot see
// that through inlining and warns about a mismatch.
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"

// Counts every heap allocation of the test process, so that a test can show
// that a stretch of code allocates nothing.
namespace {
std::atomic<long> g_allocations{0};
}  // namespace

void* operator new(std::size_t size) {
  ++g_allocations;
  if (void* p = std::malloc(size == 0 ? 1 : size)) return p;
  throw std::bad_alloc();
}
void* operator new[](std::size_t size) { return operator new(size); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }

namespace {

int g_calls = 0;
int* g_lastValue = nullptr;
DWORD g_lastHandle = 0;

void Release(int* value) {
  ++g_calls;
  g_lastValue = value;
}

// A WINAPI (stdcall) clean-up with a result, shaped like CryptDestroyHash.
BOOL WINAPI ReleaseHandle(DWORD handle) {
  ++g_calls;
  g_lastHandle = handle;
  return FALSE;
}

class ScopeGuardTest : public ::testing::Test {
 protected:
  void SetUp() override {
    g_calls = 0;
    g_lastValue = nullptr;
    g_lastHandle = 0;
  }
};

TEST_F(ScopeGuardTest, RunsItsActionOnceWithTheBoundValueOnReturn) {
  int resource = 0;
  auto scope = [&]() -> int {
    ScopeGuard guard(BindAction(&Release, &resource));
    EXPECT_EQ(g_calls, 0);
    return 7;
  };
  EXPECT_EQ(scope(), 7);
  EXPECT_EQ(g_calls, 1);
  EXPECT_EQ(g_lastValue, &resource);
}

TEST_F(ScopeGuardTest, RunsItsActionOnceWhenAnExceptionLeavesTheScope) {
  int resource = 0;
  try {
    ScopeGuard guard(BindAction(&Release, &resource));
    throw std::runtime_error("leave");
  } catch (const std::runtime_error&) {
  }
  EXPECT_EQ(g_calls, 1);
  EXPECT_EQ(g_lastValue, &resource);
}

TEST_F(ScopeGuardTest, GuardsEndInReverseOrderOfConstruction) {
  static std::string order;
  order.clear();
  struct Log {
    static void First(int) { order += "first;"; }
    static void Second(int) { order += "second;"; }
  };
  {
    ScopeGuard first(BindAction(&Log::First, 1));
    ScopeGuard second(BindAction(&Log::Second, 2));
  }
  EXPECT_EQ(order, "second;first;");
}

TEST_F(ScopeGuardTest, BindsAWinapiFunctionAndDiscardsItsResult) {
  {
    ScopeGuard guard(BindAction(&ReleaseHandle, static_cast<DWORD>(0x1234)));
  }
  EXPECT_EQ(g_calls, 1);
  EXPECT_EQ(g_lastHandle, 0x1234u);
  // The hash clean-up of the signature check binds the real CryptoAPI call.
  BoundAction destroyHash = BindAction(&CryptDestroyHash, static_cast<HCRYPTHASH>(0));
  EXPECT_FALSE(destroyHash.empty());
}

TEST_F(ScopeGuardTest, MakingCopyingRunningAndDroppingAGuardAllocatesNothing) {
  int resource = 0;
  const long before = g_allocations.load();
  {
    BoundAction action = BindAction(&Release, &resource);
    BoundAction copy = action;
    ScopeGuard guard(copy);
    ScopeGuard winapiGuard(BindAction(&ReleaseHandle, static_cast<DWORD>(9)));
  }
  const long after = g_allocations.load();
  EXPECT_EQ(after - before, 0);
  EXPECT_EQ(g_calls, 2);
  // The counter does see allocations, so the zero above means something.
  const long probeBefore = g_allocations.load();
  static int* volatile probe = nullptr;
  probe = new int(1);
  delete probe;
  EXPECT_EQ(g_allocations.load() - probeBefore, 1);
}

TEST_F(ScopeGuardTest, ABoundActionIsAPlainValueThatCanBeCalledRepeatedly) {
  int resource = 0;
  BoundAction action = BindAction(&Release, &resource);
  BoundAction copy = action;
  action();
  copy();
  EXPECT_EQ(g_calls, 2);
  EXPECT_EQ(g_lastValue, &resource);
}

}  // namespace
