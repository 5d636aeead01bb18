// One run at a time: a named mutex held for as long as its owner lives, and
// waited for, up to a limit, while another process holds it.
#pragma once

#include <windows.h>

#include <string>

#include "logging/owners.h"

class RunLock {
 public:
  enum class Result {
    // Free at once, or after the other holder let it go.
    Acquired,
    // Its holder ended without letting it go (it was stopped or crashed):
    // held now, and what the holder was doing may be half done.
    AcquiredAbandoned,
    // Still held by another process at the limit: not held.
    TimedOut,
    // The mutex could not be made or waited for: not held.
    Unavailable,
  };

  // Opens or makes the mutex `name` ("Local\..." for one per session) and
  // waits up to `limitMs` for it; every wait and failure is logged. Must be
  // released on the thread that acquired it (a mutex belongs to a thread).
  static RunLock Acquire(const std::string& name, DWORD limitMs);

  RunLock(RunLock&&) = default;
  RunLock& operator=(RunLock&&) = delete;
  // Lets the mutex go when held. Never throws.
  ~RunLock();

  Result result() const { return result_; }
  bool held() const { return result_ == Result::Acquired || result_ == Result::AcquiredAbandoned; }

 private:
  RunLock(UniqueHandle mutex, std::string name, Result result)
      : mutex_(std::move(mutex)), name_(std::move(name)), result_(result) {}

  UniqueHandle mutex_;
  std::string name_;
  Result result_;
};
