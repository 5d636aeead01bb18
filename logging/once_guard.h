// One-time work that counts as done only once it has returned. Work that
// threw leaves the guard open: the next caller runs it again. (std::call_once
// promises the same, but with this runtime a second call after a throw
// waits forever.) Built on the system's one-time initialisation, whose
// failed attempt is retried by the next caller; it is constant-initialised,
// so a guard at namespace scope is ready before any code runs.
#pragma once

#include <windows.h>

#include <exception>
#include <type_traits>

class OnceGuard {
 public:
  constexpr OnceGuard() = default;
  OnceGuard(const OnceGuard&) = delete;
  OnceGuard& operator=(const OnceGuard&) = delete;

  // Runs `work` unless an earlier call's work returned. Callers wait while
  // another thread runs it. `work` must not run the same guard again.
  template <typename Work>
  void Run(Work&& work) {
    using Callable = std::remove_reference_t<Work>;
    Attempt<Callable> attempt{&work, nullptr};
    InitOnceExecuteOnce(&once_, &RunAttempt<Callable>, &attempt, nullptr);
    if (attempt.error) std::rethrow_exception(attempt.error);
  }

 private:
  template <typename Work>
  struct Attempt {
    Work* work;
    std::exception_ptr error;
  };

  // No exception may cross the system's frames: it is carried out and
  // thrown again by Run, and the attempt counts as failed.
  template <typename Work>
  static BOOL CALLBACK RunAttempt(PINIT_ONCE, PVOID parameter, PVOID*) {
    auto* attempt = static_cast<Attempt<Work>*>(parameter);
    try {
      (*attempt->work)();
      return TRUE;
    } catch (...) {
      attempt->error = std::current_exception();
      return FALSE;
    }
  }

  INIT_ONCE once_ = INIT_ONCE_STATIC_INIT;
};
