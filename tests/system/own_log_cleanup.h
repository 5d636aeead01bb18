// Included once by a test program whose code under test logs in-process:
// at the end of the run the logger is shut down and the program's own log
// file removed, so that the test leaves no file behind.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include "logging/primitive_logger.h"
#include "tests/support/test_support.h"

namespace own_log_cleanup {

class RemoveOwnLog : public ::testing::Environment {
 public:
  void TearDown() override {
    ShutdownLogger();
    DeleteFileA(test_support::LogPathForPid(GetCurrentProcessId()).c_str());
  }
};

inline ::testing::Environment* const kRemoveOwnLog =
    ::testing::AddGlobalTestEnvironment(new RemoveOwnLog);

}  // namespace own_log_cleanup
