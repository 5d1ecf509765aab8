#pragma once

#include <boost/bind/bind.hpp>
#include <boost/function.hpp>

// A clean-up call bound to one resource value. Calling it calls the function
// with that value and drops whatever the function returns. It is a plain
// value: the function and its one argument fit boost::function's own buffer,
// so making, copying and calling it take no heap memory.
using BoundAction = boost::function<void()>;

// Binds a one-argument clean-up function to the resource value it releases.
// The result type is named explicitly, so that boost::bind treats the
// function pointer as a plain callable: that also covers WINAPI (stdcall)
// functions such as CryptDestroyHash, which Boost's own stdcall overloads
// (BOOST_BIND_ENABLE_STDCALL) cannot bind with GCC.
template <typename Function, typename Value>
BoundAction BindAction(Function function, Value value) {
  using Result = decltype(function(value));
  return boost::bind<Result>(function, value);
}

// Runs its action exactly once when its scope ends, by return or by an
// exception. Built right after the resource was acquired; there is no
// dismiss, and a guard is neither copied nor moved.
class ScopeGuard {
 public:
  explicit ScopeGuard(const BoundAction& action) : action_(action) {}
  ~ScopeGuard() {
    action_();
    action_.clear();
  }

  ScopeGuard(const ScopeGuard&) = delete;
  ScopeGuard& operator=(const ScopeGuard&) = delete;
  ScopeGuard(ScopeGuard&&) = delete;
  ScopeGuard& operator=(ScopeGuard&&) = delete;

 private:
  BoundAction action_;
};
