// What a run keeps for itself while it repairs: copies of folders (read back
// before anything relies on them), its own run folder and the small files in
// it. All in the test process, each path ending with the handle count it
// started with: these run on every repair and on every failed one.
#include <windows.h>

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "logging/ansi_text.h"
#include "logging/owners.h"
#include "logging/primitive_logger.h"
#include "system/folder_tree.h"
#include "system/run_folder.h"
#include "system/small_file.h"
#include "tests/support/handle_count.h"
#include "tests/support/test_support.h"

using namespace test_support;

namespace {

constexpr char kTag[] = "run_storage_test";
constexpr wchar_t kLockName[] = L"run.lock";

// A temporary folder in wide form, ending without a backslash. The logger
// has its file open before anything here counts handles.
class RunStorage : public ::testing::Test {
 protected:
  void SetUp() override {
    PrimitiveLogger::Log(kTag, "%s", ::testing::UnitTest::GetInstance()->current_test_info()->name());
    ASSERT_NE(handlesBefore_ = OwnHandleCount(), 0u);
  }

  std::wstring Path(const std::wstring& relative) const {
    return AnsiToWide(temp_.path()) + L"\\" + relative;
  }
  bool Plant(const std::wstring& relative, const std::string& bytes) const {
    return WriteFileBytes(WideToAnsi(Path(relative)), bytes) &&
           ReadFileBytes(WideToAnsi(Path(relative))) == bytes;
  }
  std::optional<std::string> Read(const std::wstring& relative) const {
    return ReadFileBytes(WideToAnsi(Path(relative)));
  }

  ScopedTempDir temp_;
  DWORD handlesBefore_ = 0;
};

}  // namespace

TEST_F(RunStorage, ACopyHoldsEveryFileOfItsSourceAndGoesWithItsTree) {
  ASSERT_TRUE(CreateDirectoryW(Path(L"from").c_str(), nullptr));
  ASSERT_TRUE(CreateDirectoryW(Path(L"from\\sub").c_str(), nullptr));
  ASSERT_TRUE(CreateDirectoryW(Path(L"from\\empty").c_str(), nullptr));
  ASSERT_TRUE(Plant(L"from\\uninstall.exe", std::string("MZ\0\x90", 4) + std::string(70000, 'x')));
  ASSERT_TRUE(Plant(L"from\\sub\\settings.ini", "[a]\r\nb=c\r\n"));

  EXPECT_TRUE(CopyTreeVerified(Path(L"from"), Path(L"to"), kTag));
  EXPECT_EQ(Read(L"to\\uninstall.exe"), Read(L"from\\uninstall.exe"));
  EXPECT_EQ(Read(L"to\\sub\\settings.ini"), "[a]\r\nb=c\r\n");
  EXPECT_TRUE(IsRealFolder(Path(L"to\\empty")));
  EXPECT_TRUE(CompareFiles(Path(L"from\\uninstall.exe"), Path(L"to\\uninstall.exe"), kTag));
  ULONGLONG bytes = 0;
  EXPECT_TRUE(TreeSize(Path(L"to"), bytes, kTag));
  EXPECT_EQ(bytes, 4u + 70000u + 10u);

  EXPECT_TRUE(RemoveTree(Path(L"to"), kTag));
  EXPECT_EQ(GetFileAttributesW(Path(L"to").c_str()), INVALID_FILE_ATTRIBUTES);
  EXPECT_TRUE(RemoveTree(Path(L"to"), kTag)) << "a tree that is gone already is no failure";
  EXPECT_EQ(OwnHandleCount(), handlesBefore_);
}

TEST_F(RunStorage, ACopyOrAComparisonThatCannotReadItsSourceFailsAndKeepsNoHandle) {
  ASSERT_TRUE(CreateDirectoryW(Path(L"from").c_str(), nullptr));
  ASSERT_TRUE(Plant(L"from\\a.dat", "first"));
  ASSERT_TRUE(Plant(L"from\\b.dat", "second"));
  ASSERT_TRUE(Plant(L"other.dat", "secont"));
  {
    // Held without sharing, as a running program's open file can be.
    UniqueHandle held(CreateFileW(Path(L"from\\b.dat").c_str(), GENERIC_READ, 0, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(held.valid());
    ASSERT_EQ(CreateFileW(Path(L"from\\b.dat").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                          OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr),
              INVALID_HANDLE_VALUE)
        << "not planted: the file can still be read";
    EXPECT_EQ(CopyTreeVerified(Path(L"from"), Path(L"to"), kTag).error(),
              static_cast<DWORD>(ERROR_SHARING_VIOLATION));
  }
  EXPECT_EQ(CompareFiles(Path(L"from\\b.dat"), Path(L"other.dat"), kTag).error(),
            static_cast<DWORD>(ERROR_FILE_CORRUPT))
      << "files of one size and other bytes differ";
  EXPECT_FALSE(CompareFiles(Path(L"from\\a.dat"), Path(L"missing.dat"), kTag));
  ULONGLONG bytes = 0;
  EXPECT_FALSE(TreeSize(Path(L"missing"), bytes, kTag));
  EXPECT_TRUE(RemoveTree(Path(L"to"), kTag));
  EXPECT_EQ(OwnHandleCount(), handlesBefore_);
}

TEST_F(RunStorage, ARunFolderIsHeldForItsRunTakenOverOnlyWhenLetGoAndRemovedWithItsLevels) {
  // A root of this test's own below the local application-data folder.
  const std::wstring root = L"RemedionTest_" + std::to_wstring(GetCurrentProcessId());
  std::wstring path;
  {
    RunFolder folder;
    ASSERT_TRUE(RunFolder::Make(root, kLockName, folder, kTag));
    ASSERT_TRUE(folder.held());
    path = folder.path();
    EXPECT_TRUE(IsRealFolder(path));
    std::vector<std::wstring> refused;
    EXPECT_EQ(RunFolder::Existing(root, refused), std::vector<std::wstring>{path});
    EXPECT_TRUE(refused.empty());

    RunFolder second;
    EXPECT_EQ(RunFolder::TakeOver(path, kLockName, second, kTag).error(),
              static_cast<DWORD>(ERROR_SHARING_VIOLATION))
        << "taken over while its run still holds it";
    EXPECT_FALSE(second.held());

    ASSERT_TRUE(WriteFileWhole(path + L"journal.txt", "kept", kTag));
    folder.Keep();
    EXPECT_FALSE(folder.held());
    ASSERT_TRUE(RunFolder::TakeOver(path, kLockName, second, kTag));
    EXPECT_TRUE(second.held());
    EXPECT_EQ(ReadFileBytes(WideToAnsi(path + L"journal.txt")), "kept");
  }
  EXPECT_EQ(GetFileAttributesW(path.c_str()), INVALID_FILE_ATTRIBUTES)
      << "the run folder goes with its last owner";
  RunFolder::RemoveRootIfEmpty(root);
  std::vector<std::wstring> refused;
  EXPECT_TRUE(RunFolder::Existing(root, refused).empty());

  // A file where the root goes: no folder is made, nothing is held.
  const std::wstring rootPath =
      AnsiToWide(ExpandedText("%LOCALAPPDATA%")) + L"\\" + root;
  ASSERT_TRUE(WriteFileBytes(WideToAnsi(rootPath), "not a folder"));
  {
    RunFolder blocked;
    EXPECT_FALSE(RunFolder::Make(root, kLockName, blocked, kTag));
    EXPECT_FALSE(blocked.held());
  }
  EXPECT_TRUE(DeleteFileW(rootPath.c_str()));
  EXPECT_EQ(OwnHandleCount(), handlesBefore_);
}

TEST_F(RunStorage, ASmallFileIsReplacedWholeAndReadBackOnlyWhenItIsPlainAndSmall) {
  const std::wstring journal = Path(L"journal.txt");
  ASSERT_TRUE(WriteFileWhole(journal, "first version\r\n", kTag));
  ASSERT_TRUE(WriteFileWhole(journal, "second\r\n", kTag));
  std::string bytes;
  EXPECT_TRUE(ReadSmallFile(journal, 64, bytes, kTag));
  EXPECT_EQ(bytes, "second\r\n");
  EXPECT_FALSE(Read(L"journal.txt.new").has_value()) << "the sibling went with the replacement";

  EXPECT_EQ(ReadSmallFile(journal, 7, bytes, kTag).error(),
            static_cast<DWORD>(ERROR_FILE_TOO_LARGE));
  EXPECT_TRUE(bytes.empty());
  ASSERT_TRUE(CreateHardLinkW(Path(L"elsewhere.txt").c_str(), journal.c_str(), nullptr));
  ASSERT_EQ(LinkCount(WideToAnsi(journal)), 2u) << "not planted: the file has one name";
  EXPECT_EQ(ReadSmallFile(journal, 64, bytes, kTag).error(), kErrorLinkRefused)
      << "a file with a second name may be someone else's, linked in";
  EXPECT_FALSE(ReadSmallFile(Path(L"missing.txt"), 64, bytes, kTag));
  EXPECT_FALSE(WriteFileWhole(Path(L"missing\\journal.txt"), "x", kTag));
  EXPECT_EQ(OwnHandleCount(), handlesBefore_);
}
