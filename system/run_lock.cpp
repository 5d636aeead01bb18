#include "system/run_lock.h"

#include <utility>

#include "logging/primitive_logger.h"

namespace {

constexpr char kAcquireTag[] = "RunLock::Acquire";
constexpr char kReleaseTag[] = "RunLock::Release";

DWORD MillisecondsSince(ULONGLONG start) { return static_cast<DWORD>(GetTickCount64() - start); }

}  // namespace

RunLock RunLock::Acquire(const std::string& name, DWORD limitMs) {
  // Not owned at creation: the wait below is what takes it, whether this
  // process made it or another did.
  UniqueHandle mutex(CreateMutexA(nullptr, FALSE, name.c_str()));
  if (!mutex) {
    PrimitiveLogger::Log(kAcquireTag, "CreateMutex(%s) failed:  %lu", name.c_str(), GetLastError());
    return RunLock(UniqueHandle(), name, Result::Unavailable);
  }

  DWORD wait = WaitForSingleObject(mutex.get(), 0);
  if (wait == WAIT_TIMEOUT) {
    PrimitiveLogger::Log(kAcquireTag,
                         "Another process holds %s; waiting up to %lu seconds for it to end",
                         name.c_str(), limitMs / 1000);
    const ULONGLONG start = GetTickCount64();
    wait = WaitForSingleObject(mutex.get(), limitMs);
    if (wait == WAIT_OBJECT_0) {
      PrimitiveLogger::Log(kAcquireTag, "%s became free after %lu ms", name.c_str(),
                           MillisecondsSince(start));
    }
  }
  switch (wait) {
    case WAIT_OBJECT_0:
      return RunLock(std::move(mutex), name, Result::Acquired);
    case WAIT_ABANDONED:
      PrimitiveLogger::Log(kAcquireTag,
                           "The process that held %s ended without letting it go; this one "
                           "goes on",
                           name.c_str());
      return RunLock(std::move(mutex), name, Result::AcquiredAbandoned);
    case WAIT_TIMEOUT:
      PrimitiveLogger::Log(kAcquireTag, "%s is still held after %lu seconds", name.c_str(),
                           limitMs / 1000);
      return RunLock(UniqueHandle(), name, Result::TimedOut);
    default:
      PrimitiveLogger::Log(kAcquireTag, "Wait for %s failed:  %lu", name.c_str(), GetLastError());
      return RunLock(UniqueHandle(), name, Result::Unavailable);
  }
}

RunLock::~RunLock() {
  if (!held() || !mutex_) return;
  if (!ReleaseMutex(mutex_.get())) {
    PrimitiveLogger::Log(kReleaseTag, "ReleaseMutex(%s) failed:  %lu", name_.c_str(),
                         GetLastError());
  }
}
