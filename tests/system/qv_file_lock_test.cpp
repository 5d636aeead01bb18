#include <windows.h>

#include <gtest/gtest.h>

#include <regex>
#include <stdexcept>
#include <string>

#include "system/qv_file_lock.h"
#include "tests/support/handle_count.h"
#include "tests/support/test_support.h"
#include "tests/system/system_probe.h"

using namespace test_support;

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

}  // namespace

TEST(QVFileLock, AnEmptyPathOrAMissingFileIsNotFound) {
  ScopedTempDir temp;
  const std::string missing = temp.path() + "\\missing.exe";
  // The first refusal's log line also opens this process's log file.
  EXPECT_EQ(ThrownText(""), "File Not Found");
  const DWORD before = OwnHandleCount();
  ASSERT_GT(before, 0u) << "no handle count";
  EXPECT_EQ(ThrownText(missing), "File Not Found");
  EXPECT_EQ(ThrownText(""), "File Not Found");
  EXPECT_EQ(OwnHandleCount(), before);

  const auto run = RunProbe(kSystemProbe, "lock " + Quoted(missing));
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
  EXPECT_EQ(RunProbe(kSystemProbe, "access " + Quoted(file)).child.exitCode,
            kMayRead | kMayOverwrite | kMayDelete);
  ASSERT_EQ(GetFileAttributesA(file.c_str()), INVALID_FILE_ATTRIBUTES);
  ASSERT_TRUE(WriteFileBytes(file, "MZ payload"));

  const DWORD before = OwnHandleCount();
  ASSERT_GT(before, 0u) << "no handle count";
  {
    QVFileLock lock(file);
    const auto run = RunProbe(kSystemProbe, "access " + Quoted(file));
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
  EXPECT_EQ(OwnHandleCount(), before);
  // Released, the file can go.
  EXPECT_TRUE(DeleteFileA(file.c_str()));
}

TEST(QVFileLock, ALockedProgramCanStillBeStarted) {
  ScopedTempDir temp;
  const std::string program = temp.path() + "\\probe_copy.exe";
  ASSERT_TRUE(CopyFileA(TestProgramPath("system_probe.exe").c_str(), program.c_str(), FALSE));
  QVFileLock lock(program);
  // Without arguments the probe ends with its usage code.
  const LoggedRun run = RunLogged(Quoted(program));
  ASSERT_TRUE(run.child.finished);
  EXPECT_EQ(run.child.exitCode, 99u);
}

TEST(QVFileLock, AFileSomeoneWritesCannotBeLocked) {
  ScopedTempDir temp;
  const std::string file = temp.path() + "\\busy.bin";
  ASSERT_TRUE(WriteFileBytes(file, "data"));
  HANDLE writer = CreateFileA(file.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(writer, INVALID_HANDLE_VALUE);

  EXPECT_EQ(ThrownText(file), "CreateFile");
  const DWORD before = OwnHandleCount();
  ASSERT_GT(before, 0u) << "no handle count";
  EXPECT_EQ(ThrownText(file), "CreateFile");
  EXPECT_EQ(OwnHandleCount(), before);

  const auto run = RunProbe(kSystemProbe, "lock " + Quoted(file));
  CloseHandle(writer);
  ASSERT_TRUE(run.child.finished);
  EXPECT_EQ(run.child.exitCode, 1u);
  // 32: ERROR_SHARING_VIOLATION.
  EXPECT_EQ(run.messages,
            (std::vector<std::string>{"(QVFileLock::QVFileLock)  CreateFile Failed for file: '" +
                                          file + "', last Error: 32",
                                      "(probe)  thrown=[CreateFile]"}));
}
