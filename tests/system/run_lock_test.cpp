// One run at a time: the named mutex is taken when free, waited for while
// another holder has it, given up at the limit, and taken over from a
// holder that ended without letting go. Each ends with the handles it
// opened closed. Another thread stands in for another process: a mutex
// belongs to a thread.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <thread>

#include "logging/primitive_logger.h"
#include "logging/owners.h"
#include "system/run_lock.h"
#include "tests/support/handle_count.h"

using test_support::OwnHandleCount;

namespace {

// A mutex name of this test process alone.
std::string TestMutexName() {
  return "Local\\RunLockTest." + std::to_string(GetCurrentProcessId());
}

// Another holder of the mutex: takes it at once and lets it go after
// `holdMs`, or never when `release` is false; its thread ends only when
// the holder goes (leaving the mutex abandoned if it still holds it), so
// that its handles stay put while a test counts them.
class OtherHolder {
 public:
  OtherHolder(const std::string& name, DWORD holdMs, bool release)
      : taken_(CreateEventA(nullptr, TRUE, FALSE, nullptr)),
        finish_(CreateEventA(nullptr, TRUE, FALSE, nullptr)),
        thread_([=] {
          UniqueHandle mutex(CreateMutexA(nullptr, TRUE, name.c_str()));
          SetEvent(taken_.get());
          Sleep(holdMs);
          if (release) ReleaseMutex(mutex.get());
          WaitForSingleObject(finish_.get(), INFINITE);
        }) {
    WaitForSingleObject(taken_.get(), INFINITE);
  }
  ~OtherHolder() {
    SetEvent(finish_.get());
    thread_.join();
  }

 private:
  UniqueHandle taken_;
  UniqueHandle finish_;
  std::thread thread_;
};

// Runs `acquire`, which takes a lock and lets it go, and checks that it
// left no handle open. Threads standing in for other holders start and end
// outside it: their own handles come and go with them.
template <typename Acquire>
void ExpectNoHandleLeft(const char* what, Acquire acquire) {
  const DWORD before = OwnHandleCount();
  ASSERT_NE(before, 0u);
  acquire();
  EXPECT_EQ(OwnHandleCount(), before) << what;
}

}  // namespace

TEST(RunLock, TakesAFreeOrFreedLockGivesUpAtTheLimitAndTakesOverAnAbandonedOne) {
  const std::string name = TestMutexName();
  // What the process keeps once it has used them: the log file, opened with
  // the first line, and the folder of named objects, with the first name.
  PrimitiveLogger::Log("RunLockTest", "start");
  { const RunLock first = RunLock::Acquire(name, 0); }

  ExpectNoHandleLeft("free", [&] {
    const RunLock free = RunLock::Acquire(name, 0);
    EXPECT_EQ(free.result(), RunLock::Result::Acquired);
  });
  {
    const OtherHolder holder(name, 600, true);
    ExpectNoHandleLeft("timed out, then freed", [&] {
      const RunLock late = RunLock::Acquire(name, 100);
      EXPECT_EQ(late.result(), RunLock::Result::TimedOut);
      EXPECT_FALSE(late.held());
      const RunLock patient = RunLock::Acquire(name, 10000);
      EXPECT_EQ(patient.result(), RunLock::Result::Acquired);
    });
  }
  // Kept open, as a waiting run keeps it: the last handle's close would end
  // the mutex itself, and a new one would simply be free.
  UniqueHandle waiting;
  {
    const OtherHolder vanished(name, 0, false);
    waiting.reset(OpenMutexA(SYNCHRONIZE, FALSE, name.c_str()));
    ASSERT_TRUE(waiting) << "the other holder's mutex cannot be opened";
  }
  ExpectNoHandleLeft("abandoned", [&] {
    const RunLock takenOver = RunLock::Acquire(name, 1000);
    EXPECT_EQ(takenOver.result(), RunLock::Result::AcquiredAbandoned);
    EXPECT_TRUE(takenOver.held());
  });
  // Let go of by the owner that took it over: free again at once.
  waiting.reset();
  const RunLock again = RunLock::Acquire(name, 0);
  EXPECT_EQ(again.result(), RunLock::Result::Acquired);
}
