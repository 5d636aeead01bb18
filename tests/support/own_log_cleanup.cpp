// Linked into every test program: code under test that logs in-process
// writes the program's own log file, so at the end of the run the logger is
// shut down and that file (public or per-user) removed, and the test leaves
// no file behind.
#include <windows.h>

#include <gtest/gtest.h>

#include "logging/primitive_logger.h"
#include "tests/support/test_support.h"

namespace {

class RemoveOwnLog : public ::testing::Environment {
 public:
  void TearDown() override {
    ShutdownLogger();
    DeleteFileA(test_support::LogPathForPid(GetCurrentProcessId()).c_str());
    DeleteFileA(test_support::PerUserLogPathForPid(GetCurrentProcessId()).c_str());
  }
};

::testing::Environment* const g_remove_own_log =
    ::testing::AddGlobalTestEnvironment(new RemoveOwnLog);

}  // namespace
