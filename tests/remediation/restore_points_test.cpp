// A rollback that cannot put a removed component back must not lose what
// would: its restore points stay, unlocked, for the next run's recovery,
// which keeps them again for as long as it cannot put the component back
// either. In the test process, in a prefix lane of its own (the recovery
// reads the prefix user's components and restore folders).
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "logging/ansi_text.h"
#include "logging/owners.h"
#include "remediation/component_constants.h"
#include "remediation/restore_points.h"
#include "remediation/run_recovery.h"
#include "system/folder_tree.h"
#include "system/run_folder.h"
#include "tests/support/test_support.h"

using namespace test_support;
using namespace component_constants;

namespace {

constexpr char kRollBackTestTag[] = "restore_points_test";

// The restore folders left below the local application-data folder.
std::vector<std::wstring> RestoreFolders() {
  std::vector<std::wstring> refused;
  return RunFolder::Existing(kRestoreRoot, refused);
}

class RollBack : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(RestoreFolders().empty()) << "a restore folder of another run is in the lane";
    // The old setup client of one company, in an application-data folder
    // of the test's own.
    appData_ = temp_.path() + "\\";
    const std::string folder = appData_ + kTessalyCompany + "\\" + kSetupClientProduct + "\\";
    ASSERT_TRUE(CreateDirectoryA((appData_ + kTessalyCompany).c_str(), nullptr));
    ASSERT_TRUE(CreateDirectoryA(folder.c_str(), nullptr));
    ASSERT_TRUE(WriteFileBytes(folder + kUninstallerFileName, "MZ uninstaller"));
    ASSERT_TRUE(WriteFileBytes(folder + kSetupClientExeName, "MZ client"));
    uninstaller_ = folder + kUninstallerFileName;
  }
  void TearDown() override {
    for (const std::wstring& folder : RestoreFolders()) (void)RemoveTree(folder, kRollBackTestTag);
    RunFolder::RemoveRootIfEmpty(kRestoreRoot);
  }

  // Saves the setup client, removes it as its uninstaller would, lets
  // `beforeRollBack` act on the run's restore folder, and rolls back a
  // failed installation; what was put back.
  template <typename Act>
  std::vector<std::string> RemoveAndRollBack(Act beforeRollBack) {
    std::vector<std::string> restored;
    RestorePoints points;
    std::string why;
    EXPECT_TRUE(points.SaveSetupClient(appData_, why)) << why;
    points.RemovingSetupClient(kTessalyCompany);
    EXPECT_TRUE(RemoveTree(AnsiToWide(appData_ + kTessalyCompany), kRollBackTestTag));
    const std::vector<std::wstring> folders = RestoreFolders();
    EXPECT_EQ(folders.size(), 1u);
    if (folders.size() == 1) beforeRollBack(folders.front());
    InstallReport failed;
    failed.attempted = true;
    failed.why = "its setup program exited with code 1603";
    points.RollBackFailedInstalls(appData_, std::wstring(), failed, InstallReport(), restored);
    return restored;
  }

  ScopedTempDir temp_;
  std::string appData_;
  std::string uninstaller_;
};

}  // namespace

TEST_F(RollBack, PutsTheRemovedComponentBackAndLetsItsRestorePointsGo) {
  const std::vector<std::string> restored = RemoveAndRollBack([](const std::wstring&) {});
  EXPECT_EQ(restored.size(), 1u);
  EXPECT_EQ(ReadFileBytes(uninstaller_), "MZ uninstaller");
  EXPECT_TRUE(RestoreFolders().empty());
}

TEST_F(RollBack, WhatCannotBePutBackKeepsItsRestorePointsForTheNextRun) {
  // The saved files go missing before the rollback needs them.
  const std::vector<std::string> restored = RemoveAndRollBack([](const std::wstring& folder) {
    EXPECT_TRUE(RemoveTree(folder + L"setup-client-0", kRollBackTestTag));
  });
  EXPECT_TRUE(restored.empty());
  EXPECT_FALSE(ReadFileBytes(uninstaller_).has_value());
  const std::vector<std::wstring> kept = RestoreFolders();
  ASSERT_EQ(kept.size(), 1u) << "the restore points went with the run";
  EXPECT_NE(GetFileAttributesW((kept.front() + kJournalFileName).c_str()),
            INVALID_FILE_ATTRIBUTES);

  // The next run's recovery takes the folder over, cannot put the setup
  // client back either (the prefix user has none), and keeps it again.
  RecoverUnfinishedRuns();
  EXPECT_EQ(RestoreFolders(), kept);
  RunFolder again;
  EXPECT_TRUE(RunFolder::TakeOver(kept.front(), kRunLockFileName, again, kRollBackTestTag))
      << "the recovery let the folder's lock go";
}

using Recovery = RollBack;

TEST_F(Recovery, KeepsAFolderWhoseJournalCannotBeReadNowAndIgnoresOneThatIsNotARunsJournal) {
  std::wstring path;
  {
    RunFolder stopped;
    ASSERT_TRUE(RunFolder::Make(kRestoreRoot, kRunLockFileName, stopped, kRollBackTestTag));
    path = stopped.path();
    ASSERT_TRUE(WriteFileBytes(WideToAnsi(path + kJournalFileName), "not a journal\r\n"));
    ASSERT_TRUE(WriteFileBytes(WideToAnsi(path + L"saved.msi"), "a restore point"));
    stopped.Keep();  // as a stopped run leaves it
  }
  {
    // Held by another program for a moment, which lets it be deleted but
    // not read.
    UniqueHandle held(CreateFileW((path + kJournalFileName).c_str(), GENERIC_READ,
                                  FILE_SHARE_DELETE, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                                  nullptr));
    ASSERT_TRUE(held.valid());
    RecoverUnfinishedRuns();
    EXPECT_EQ(ReadFileBytes(WideToAnsi(path + L"saved.msi")), "a restore point");
  }
  EXPECT_EQ(RestoreFolders(), std::vector<std::wstring>{path});
  RecoverUnfinishedRuns();
  EXPECT_TRUE(RestoreFolders().empty()) << "a journal that is not a run's is ignored, its folder removed";
}
