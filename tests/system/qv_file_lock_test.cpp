#include <windows.h>

#include <gtest/gtest.h>

#include <regex>
#include <stdexcept>
#include <string>

#include "system/qv_file_lock.h"
#include "tests/support/test_support.h"
#include "tests/system/system_probe_support.h"

using namespace test_support;
using system_probe::RunProbe;

namespace {

// What the probe may do with a file (its "access" mode's exit bits).
constexpr DWORD kMayRead = 1;
constexpr DWORD kMayOverwrite = 2;
constexpr DWORD kMayDelete = 4;

std::string ThrownText(const std::string& path) {
  try {
    QVFileLock lock(path);
  } catch (const std::runtime_error& error) {
    return error.what();
  }
  return "";
}

DWORD HandleCount() {
  DWORD count = 0;
  GetProcessHandleCount(GetCurrentProcess(), &count);
  return count;
}

}  // namespace

TEST(QVFileLock, AnEmptyPathOrAMissingFileIsNotFound) {
  ScopedTempDir temp;
  const std::string missing = temp.path() + "\\missing.exe";
  const DWORD before = HandleCount();
  EXPECT_EQ(ThrownText(""), "File Not Found");
  EXPECT_EQ(ThrownText(missing), "File Not Found");
  EXPECT_EQ(HandleCount(), before);

  const auto run = RunProbe("lock \"" + missing + "\"");
  ASSERT_TRUE(run.child.finished);
  EXPECT_EQ(run.child.exitCode, 1u);
  EXPECT_EQ(run.messages,
            (std::vector<std::string>{"(QVFileLock::QVFileLock)  File: '" + missing + "' not found",
                                      "(probe)  thrown=[File Not Found]"}));
}

TEST(QVFileLock, WhileHeldOthersMayReadAndRunButNeitherOverwriteNorDelete) {
  ScopedTempDir temp;
  const std::string file = temp.path() + "\\installer.bin";
  ASSERT_TRUE(WriteFileBytes(file, "MZ payload"));
  // Unlocked, the probe may do everything: the refusals below are the lock's.
  EXPECT_EQ(RunProbe("access \"" + file + "\"").child.exitCode,
            kMayRead | kMayOverwrite | kMayDelete);
  ASSERT_EQ(GetFileAttributesA(file.c_str()), INVALID_FILE_ATTRIBUTES);
  ASSERT_TRUE(WriteFileBytes(file, "MZ payload"));

  const DWORD before = HandleCount();
  {
    QVFileLock lock(file);
    const auto run = RunProbe("access \"" + file + "\"");
    ASSERT_TRUE(run.child.finished);
    EXPECT_EQ(run.child.exitCode, kMayRead);
    EXPECT_EQ(ReadFileBytes(file), "MZ payload");

    // This process is held to the same sharing rules.
    EXPECT_EQ(CreateFileA(file.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                          OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr),
              INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
    EXPECT_FALSE(DeleteFileA(file.c_str()));
  }
  EXPECT_EQ(HandleCount(), before);
  // Released, the file can go.
  EXPECT_TRUE(DeleteFileA(file.c_str()));
}

TEST(QVFileLock, ALockedProgramCanStillBeStarted) {
  ScopedTempDir temp;
  const std::string program = temp.path() + "\\probe_copy.exe";
  ASSERT_TRUE(CopyFileA(TestProgramPath("system_probe.exe").c_str(), program.c_str(), FALSE));
  QVFileLock lock(program);
  // Without arguments the probe ends with its usage code.
  const ChildResult child = RunChild("\"" + program + "\"");
  ASSERT_TRUE(child.finished);
  EXPECT_EQ(child.exitCode, 99u);
  DeleteFileA(LogPathForPid(child.pid).c_str());
}

TEST(QVFileLock, AFileSomeoneWritesCannotBeLocked) {
  ScopedTempDir temp;
  const std::string file = temp.path() + "\\busy.bin";
  ASSERT_TRUE(WriteFileBytes(file, "data"));
  HANDLE writer = CreateFileA(file.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(writer, INVALID_HANDLE_VALUE);

  const DWORD before = HandleCount();
  EXPECT_EQ(ThrownText(file), "CreateFile");
  EXPECT_EQ(HandleCount(), before);

  const auto run = RunProbe("lock \"" + file + "\"");
  CloseHandle(writer);
  ASSERT_TRUE(run.child.finished);
  EXPECT_EQ(run.child.exitCode, 1u);
  // 32: ERROR_SHARING_VIOLATION.
  EXPECT_EQ(run.messages,
            (std::vector<std::string>{"(QVFileLock::QVFileLock)  CreateFile Failed for file: '" +
                                          file + "', last Error: 32",
                                      "(probe)  thrown=[CreateFile]"}));
}
