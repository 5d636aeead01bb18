#include <windows.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <regex>
#include <string>
#include <system_error>

#include "system/file_sys_utils.h"
#include "tests/support/test_support.h"
#include "tests/system/system_probe.h"

using namespace test_support;

TEST(FileSysUtils, ExistsSeesFilesFoldersAndTreatsBadNamesAsMissing) {
  ScopedTempDir temp;
  const std::string file = temp.path() + "\\a.txt";
  ASSERT_TRUE(WriteFileBytes(file, "x"));

  EXPECT_TRUE(FileSysUtils::Exists(file));
  EXPECT_TRUE(FileSysUtils::Exists(temp.path()));
  EXPECT_TRUE(FileSysUtils::Exists(temp.path() + "\\"));
  // Missing entries, missing folders on the way and invalid names are all
  // "not found", not errors.
  EXPECT_FALSE(FileSysUtils::Exists(temp.path() + "\\missing.txt"));
  EXPECT_FALSE(FileSysUtils::Exists(temp.path() + "\\no\\such\\folder\\x.exe"));
  EXPECT_FALSE(FileSysUtils::Exists(temp.path() + "\\bad<name>.txt"));
  EXPECT_FALSE(FileSysUtils::Exists(temp.path() + "\\bad|name:x:y"));
  EXPECT_FALSE(FileSysUtils::Exists(file + "\\below-a-file"));
  EXPECT_FALSE(FileSysUtils::Exists(""));
  // A share that cannot be reached is no answer at all (a redirected
  // application-data folder offline): it must not read as "components
  // missing".
  EXPECT_THROW(FileSysUtils::Exists("\\\\remedion-unreachable-host\\share\\x.exe"),
               FileSysUtils::FileSystemError);
}

// The log has always shown these errors in the text of the standard
// library's filesystem_error, system message and all: every system error
// code, and codes without a message, must still read the same (messages
// with inserts aside).
TEST(FileSysUtils, FileSystemErrorReadsAsTheStandardFilesystemError) {
  const std::string operationAndPath = "remove [C:\\Temp\\KSC1A2B.exe]";
  std::vector<DWORD> codes = {0x80070005, 0x8007000E, 0xDEADBEEF};
  for (DWORD code = 0; code < 16000; ++code) codes.push_back(code);
  int mismatches = 0;
  for (const DWORD code : codes) {
    const FileSysUtils::FileSystemError ours(operationAndPath, code);
    // A message with inserts keeps them as written (the runtime would fill
    // them from arguments that do not exist).
    if (std::string(ours.what()).find('%') != std::string::npos) continue;
    const std::filesystem::filesystem_error standard(
        operationAndPath, std::error_code(static_cast<int>(code), std::system_category()));
    if (ours.what() == std::string(standard.what()) && ours.code() == standard.code().value()) {
      continue;
    }
    if (++mismatches <= 3) {
      ADD_FAILURE() << code << ": [" << ours.what() << "] instead of [" << standard.what() << "]";
    }
  }
  EXPECT_EQ(mismatches, 0);
}

TEST(FileSysUtils, DeleteIfExistsRemovesFilesAndWholeTrees) {
  ScopedTempDir temp;
  EXPECT_TRUE(FileSysUtils::DeleteIfExists(temp.path() + "\\missing.txt"));
  EXPECT_TRUE(FileSysUtils::DeleteIfExists(temp.path() + "\\bad<name>.txt"));

  const std::string file = temp.path() + "\\single.exe";
  ASSERT_TRUE(WriteFileBytes(file, "MZ"));
  EXPECT_TRUE(FileSysUtils::DeleteIfExists(file));
  EXPECT_FALSE(FileSysUtils::Exists(file));

  const std::string tree = temp.path() + "\\tree";
  std::filesystem::create_directories(FsPath(tree + "\\sub\\deeper"));
  std::filesystem::create_directories(FsPath(tree + "\\empty"));
  ASSERT_TRUE(WriteFileBytes(tree + "\\top.txt", "1"));
  ASSERT_TRUE(WriteFileBytes(tree + "\\sub\\mid.txt", "2"));
  ASSERT_TRUE(WriteFileBytes(tree + "\\sub\\deeper\\low.txt", "3"));
  EXPECT_TRUE(FileSysUtils::DeleteIfExists(tree));
  EXPECT_FALSE(FileSysUtils::Exists(tree));
  EXPECT_TRUE(IsFolderEmpty(temp.path()));
}

TEST(FileSysUtils, CleanUpOfAMissingFileLogsOnlyTheEntryTrace) {
  ScopedTempDir temp;
  const auto run = RunProbe(kSystemProbe, "cleanup " + Quoted(temp.path() + "\\missing.exe"));
  ASSERT_TRUE(run.child.finished);
  EXPECT_EQ(run.child.exitCode, 0u);
  ASSERT_EQ(run.messages.size(), 1u);
  EXPECT_EQ(run.messages[0], "(FileSysUtils::DeleteIfExists)  >>>");
}

TEST(FileSysUtils, CleanUpOfALockedFileLogsThePlatformErrorAndTheFailure) {
  ScopedTempDir temp;
  const std::string file = temp.path() + "\\held.exe";
  ASSERT_TRUE(WriteFileBytes(file, "MZ"));

  {
    // Held in this process too: the in-process result must be false, and
    // nothing may escape.
    HANDLE held = CreateFileA(file.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    EXPECT_FALSE(FileSysUtils::DeleteIfExists(file));
    EXPECT_FALSE(FileSysUtils::DeleteIfExists(temp.path()));
    EXPECT_NO_THROW(CleanUpFile(file));
    CloseHandle(held);
    EXPECT_TRUE(FileSysUtils::Exists(file));
  }

  const auto run = RunProbe(kSystemProbe, "cleanup-locked " + Quoted(file));
  ASSERT_TRUE(run.child.finished);
  EXPECT_EQ(run.child.exitCode, 1u) << "the held file must survive";
  ASSERT_EQ(run.messages.size(), 3u);
  EXPECT_EQ(run.messages[0], "(FileSysUtils::DeleteIfExists)  >>>");
  // 32 is ERROR_SHARING_VIOLATION: the platform's code, not a C errno.
  EXPECT_TRUE(std::regex_match(
      run.messages[1],
      std::regex(
          R"(\(FileSysUtils::DeleteIfExists\)  FileSystem Error \(32\) in FS op:  .*held\.exe.*)")))
      << run.messages[1];
  EXPECT_EQ(run.messages[2], "(CleanUpFile)  Clean-up of " + file + " failed");

  // Released, the same file goes.
  EXPECT_EQ(RunProbe(kSystemProbe, "cleanup " + Quoted(file)).child.exitCode, 0u);
}

// An installer's temporary name that has become a folder (planted, or a
// junction to another folder on Windows) is never emptied: clean-up deletes
// a file or an empty folder only.
TEST(FileSysUtils, CleanUpDeletesAnEmptyFolderButNothingInsideOne) {
  ScopedTempDir temp;
  const std::string planted = temp.path() + "\\KSC1A2B.exe";
  ASSERT_TRUE(CreateDirectoryA(planted.c_str(), nullptr));
  const std::string precious = planted + "\\precious.txt";
  ASSERT_TRUE(WriteFileBytes(precious, "keep"));
  ASSERT_TRUE(FileSysUtils::Exists(precious));

  const auto refused = RunProbe(kSystemProbe, "cleanup " + Quoted(planted));
  ASSERT_TRUE(refused.child.finished);
  EXPECT_EQ(refused.child.exitCode, 1u);
  EXPECT_EQ(ReadFileBytes(precious).value_or(""), "keep");
  EXPECT_EQ(CountOf(refused.messages, "(FileSysUtils::DeleteIfExists)  Refused to delete " +
                                          planted + ": a folder with content"),
            1u);
  EXPECT_EQ(CountOf(refused.messages, "(CleanUpFile)  Clean-up of " + planted + " failed"), 1u);

  ASSERT_TRUE(DeleteFileA(precious.c_str()));
  EXPECT_EQ(RunProbe(kSystemProbe, "cleanup " + Quoted(planted)).child.exitCode, 0u);
}
