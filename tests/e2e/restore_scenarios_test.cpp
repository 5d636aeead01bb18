// Faults that strike after the helper has begun to remove the old
// components: a new installer taken away (as a quarantine does) or failing
// after it started, a run stopped half way, a restore point that cannot be
// made, journals that are not the helper's. The user is never left worse
// off: each component ends at its new version or back at its old one, and
// nothing of a run is left behind.
#include <gtest/gtest.h>

#include <windows.h>

#include <msi.h>

#include <atomic>
#include <string>
#include <vector>

#include "logging/ansi_text.h"
#include "tests/support/component_profile.h"
#include "tests/support/fault_injection.h"
#include "tests/support/scenario_checks.h"
#include "tests/support/stand_in_programs.h"
#include "tests/support/test_support.h"

using namespace test_support;

namespace {

constexpr char kRestoreRoot[] = "%LOCALAPPDATA%\\Tessaly\\Restore";
constexpr char kRollBackTag[] = "(RollBackFailedInstalls)  ";

bool IsMissing(const std::string& path) {
  return GetFileAttributesA(path.c_str()) == INVALID_FILE_ATTRIBUTES;
}

std::string TempFolder() { return ExpandedText("%TEMP%"); }

std::string RegistrationVersion(const std::string& company) {
  char version[64] = {};
  DWORD size = sizeof(version);
  const std::string key = std::string(kSetupClientRegistrationKey) + " (" + company + ")";
  if (RegGetValueA(HKEY_CURRENT_USER, key.c_str(), "DisplayVersion", RRF_RT_REG_SZ, nullptr,
                   version, &size) != ERROR_SUCCESS) {
    return "(none)";
  }
  return version;
}

// The outdated releases and their registrations, as a user had them.
void ExpectOldSetupClient() {
  for (const char* company : {"Tessaly", "Quarnel Networks"}) {
    SCOPED_TRACE(company);
    EXPECT_EQ(FileVersionOf(SetupClientExePath(company)), "22.7.1.0");
    EXPECT_EQ(RegistrationVersion(company), "22.7.1");
  }
}
void ExpectOldLauncher() {
  EXPECT_EQ(FileVersionOf(LauncherExePath()), "22.7.1.0");
  const std::vector<std::string> products = InstalledLauncherProducts();
  ASSERT_EQ(products.size(), 1u);
  EXPECT_EQ(ProductVersion(products[0]), "22.7.1");
}

// Nothing of a run in the temporary folder or the private folders.
void ExpectNothingOfTheRunsLeft() {
  EXPECT_EQ(FilesNamed(TempFolder(), "KSC", ".exe"), std::vector<std::string>());
  EXPECT_EQ(FilesNamed(TempFolder(), "KSL", ".msi"), std::vector<std::string>());
  EXPECT_TRUE(IsMissing(ExpandedText("%LOCALAPPDATA%\\Tessaly\\Staging")));
  EXPECT_TRUE(IsMissing(ExpandedText(kRestoreRoot)))
      << FolderLeftovers(AnsiToWide(ExpandedText(kRestoreRoot)));
}

class RestoreScenario : public ResetProfileTest {
 protected:
  void SetUp() override {
    ResetProfileTest::SetUp();
    InstallOutdatedComponents();
    ExpectOldSetupClient();
    ExpectOldLauncher();
  }

  // The helper's repair, with the staged installers named <prefix>*<suffix>
  // taken away the moment `removedExe` (the old component's program) is
  // gone.
  static LoggedRun RunWithQuarantine(const std::string& removedExe, const char* prefix,
                                     const char* suffix) {
    const std::string temp = TempFolder();
    const Trigger quarantine([removedExe] { return IsMissing(removedExe); },
                             [temp, prefix, suffix] {
                               for (const std::string& file : FilesNamed(temp, prefix, suffix)) {
                                 TakeAwayFile(file);
                               }
                             });
    LoggedRun run = RunHelper(kPackageArguments);
    EXPECT_TRUE(quarantine.fired()) << "the old component was never removed";
    return run;
  }
};

// The new setup client's installer is taken away right after the old setup
// client was removed: the old one comes back, files and registration; the
// launcher is repaired.
TEST_F(RestoreScenario, AQuarantinedSetupClientInstallerIsRolledBack) {
  const LoggedRun run = RunWithQuarantine(SetupClientExePath("Tessaly"), "KSC", ".exe");
  ExpectCompleteRun(run, "NotRepaired");
  ExpectOldSetupClient();
  EXPECT_EQ(FileVersionOf(LauncherExePath()), "22.7.2.0");
  EXPECT_TRUE(run.HasPrefix(std::string(kRollBackTag) +
                            "Setup Client restored to 22.7.1 after its new installation failed: "
                            "its installer could not be run"));
  EXPECT_TRUE(run.HasPrefix(std::string(kRollBackTag) +
                            "Setup Client (from Quarnel Networks) restored to 22.7.1"));
  EXPECT_NE(RunRecordValue("LastRunSummary").value_or("").find("; restored 1 (Setup Client 22.7.1)"),
            std::string::npos);
  ExpectNothingOfTheRunsLeft();
}

// The launcher's new package is taken away after the old launcher was
// removed: the old product is installed again from its saved package.
TEST_F(RestoreScenario, AQuarantinedLauncherPackageIsRolledBack) {
  const LoggedRun run = RunWithQuarantine(LauncherExePath(), "KSL", ".msi");
  ExpectCompleteRun(run, "NotRepaired");
  ExpectOldLauncher();
  EXPECT_EQ(FileVersionOf(SetupClientExePath()), "22.7.3.0");
  EXPECT_TRUE(run.HasPrefix(std::string(kRollBackTag) +
                            "Kelvo Application Launcher restored to 22.7.1 after its new "
                            "installation failed: msiexec exited with code "));
  EXPECT_NE(RunRecordValue("LastRunSummary").value_or("").find("; restored 1 (KVAL 22.7.1)"),
            std::string::npos);
  EXPECT_FALSE(IsCompletionMarked());
  ExpectNothingOfTheRunsLeft();
}

// Both new installers start and then fail (1603): both old components come
// back.
TEST_F(RestoreScenario, NewInstallersThatFailAfterStartingAreBothRolledBack) {
  const LoggedRun run =
      RunHelperExe(TestProgramPath("HelperFailingInstallers.exe"), kPackageArguments);
  ExpectCompleteRun(run, "NotRepaired");
  ExpectOldSetupClient();
  ExpectOldLauncher();
  EXPECT_TRUE(run.Has(std::string(kRollBackTag) +
                      "Setup Client restored to 22.7.1 after its new installation failed: its "
                      "setup program exited with code 1603"));
  EXPECT_TRUE(run.Has(std::string(kRollBackTag) +
                      "Kelvo Application Launcher restored to 22.7.1 after its new installation "
                      "failed: msiexec exited with code 1603"));
  EXPECT_NE(RunRecordValue("LastRunSummary")
                .value_or("")
                .find("; restored 2 (Setup Client 22.7.1, KVAL 22.7.1)"),
            std::string::npos);
  ExpectNothingOfTheRunsLeft();
}

// A file of the user's standing aside for a while: moved back when the
// object goes.
class MovedAside {
 public:
  explicit MovedAside(std::string path) : path_(std::move(path)), aside_(path_ + ".aside") {
    moved_ = MoveFileA(path_.c_str(), aside_.c_str()) != FALSE;
  }
  ~MovedAside() {
    if (moved_) MoveFileA(aside_.c_str(), path_.c_str());
  }
  MovedAside(const MovedAside&) = delete;
  MovedAside& operator=(const MovedAside&) = delete;
  bool moved() const { return moved_ && IsMissing(path_); }

 private:
  std::string path_;
  std::string aside_;
  bool moved_ = false;
};

// What cannot be put back is not removed: a launcher whose cached package
// is gone stays as it is (the setup client is repaired), and without a
// folder for restore points nothing is removed at all.
TEST_F(RestoreScenario, WithoutARestorePointTheComponentIsNotRemoved) {
  const std::vector<std::string> products = InstalledLauncherProducts();
  ASSERT_EQ(products.size(), 1u);
  char package[MAX_PATH] = {};
  DWORD size = MAX_PATH;
  ASSERT_EQ(MsiGetProductInfoA(products[0].c_str(), "LocalPackage", package, &size),
            static_cast<UINT>(ERROR_SUCCESS));
  {
    const MovedAside cached(package);
    ASSERT_TRUE(cached.moved()) << package;
    const LoggedRun run = RunHelper(kPackageArguments);
    ExpectCompleteRun(run, "NotRepaired");
    EXPECT_TRUE(run.HasPrefix(
        "(UnInstallAllPerUserKelvoComponents)  Not removing Kelvo Application Launcher: its "
        "restore point cannot be made: its cached package "));
    EXPECT_TRUE(run.HasPrefix(
        "(InstallKVALForCurrentUser)  Not installing Kelvo Application Launcher: its restore "
        "point cannot be made"));
    EXPECT_EQ(InstalledLauncherProducts(), products);
    EXPECT_EQ(FileVersionOf(LauncherExePath()), "22.7.1.0");
    EXPECT_EQ(FileVersionOf(SetupClientExePath()), "22.7.3.0");
    ExpectNothingOfTheRunsLeft();
  }

  ResetProfile();
  InstallOutdatedComponents();
  const std::string root = ExpandedText(kRestoreRoot);
  CreateDirectoryA(ExpandedText("%LOCALAPPDATA%\\Tessaly").c_str(), nullptr);
  ASSERT_TRUE(WriteFileBytes(root, "a file where the restore folder goes"));
  const LoggedRun run = RunHelper(kPackageArguments);
  DeleteFileA(root.c_str());
  ExpectCompleteRun(run, "NotRepaired");
  EXPECT_TRUE(run.HasPrefix(
      "(UnInstallAllPerUserKelvoComponents)  Not removing Setup Client: its restore point cannot "
      "be made: its restore point has no folder"));
  EXPECT_TRUE(run.HasPrefix(
      "(UnInstallAllPerUserKelvoComponents)  Not removing Kelvo Application Launcher: its restore "
      "point cannot be made: its restore point has no folder"));
  EXPECT_EQ(FinalDump(run, "AppsUnInstalled"), "0: ");
  ExpectOldSetupClient();
  ExpectOldLauncher();
}

// A run stopped right after it removed the old setup client: the next run
// puts it back from what the stopped run saved, repairs, and nothing of
// either run is left. The old setup client here is one whose uninstaller
// leaves a program running in its job, and the helper's test build waits
// 8 seconds for that job: the stop lands in that wait, not in the middle
// of starting a program (which Wine, unlike Windows, does not survive).
TEST_F(RestoreScenario, ARunStoppedAfterARemovalIsFinishedByTheNext) {
  ASSERT_EQ(RunSetupProgram(KitPath("old\\TYSetupClientInstaller_22.7.1_Lingering.exe")), 0u);
  ASSERT_EQ(FileVersionOf(SetupClientExePath()), "22.7.1.0");
  const std::string helper = TestProgramPath("HelperShortWaits.exe");
  DWORD stoppedPid = 0;
  ChildResult stopped;
  {
    std::atomic<DWORD> pid{0};
    const Trigger stop([] { return IsMissing(SetupClientExePath("Tessaly")); },
                       [&pid] { KillProcess(pid.load()); });
    stopped = RunChild(Quoted(helper) + " " + kPackageArguments,
                       [&pid](DWORD started) { pid.store(started); });
    stoppedPid = pid.load();
  }
  const std::string stoppedLog = ReadFileBytes(LogPathForPid(stoppedPid)).value_or("(no log)");
  DeleteFileA(LogPathForPid(stoppedPid).c_str());
  ASSERT_TRUE(stopped.finished);
  ASSERT_NE(stopped.exitCode, 0u) << "the run ended on its own:\n" << stoppedLog;
  ASSERT_TRUE(IsMissing(SetupClientExePath("Tessaly")));
  ASSERT_FALSE(IsMissing(ExpandedText(kRestoreRoot)));

  const LoggedRun next = RunHelperExe(helper, kPackageArguments);
  ExpectCompleteRun(next, "Repaired");
  EXPECT_TRUE(next.HasPrefix("(RecoverUnfinishedRuns)  An earlier run did not finish ("));
  EXPECT_TRUE(next.Has(
      "(RecoverUnfinishedRuns)  Setup Client (from Tessaly) restored to 22.7.1, which the stopped "
      "run had removed"));
  EXPECT_TRUE(next.HasPrefix("(RecoverUnfinishedRuns)  Deleted the staged installer "));
  ExpectCurrentComponents("22.7.3.0");
  ExpectNothingOfTheRunsLeft();
}

// Journals the helper did not write: malformed, too large, naming places
// outside where runs stage. They are ignored, nothing outside the helper's
// folders is touched; a journal's own installer in the temporary folder is
// deleted.
TEST_F(RestoreScenario, JournalsThatAreNotTheHelpersTouchNothingOutside) {
  const std::string root = ExpandedText(kRestoreRoot);
  const std::string victims = ExpandedText("%LOCALAPPDATA%\\Victim");
  const std::string victimFile = victims + "\\KSC0001.exe";
  const std::string stagedByJournal = TempFolder() + "\\KSC0BAD.exe";
  const std::string header = "remedion-run-journal 1\n";
  const struct {
    const char* folder;
    std::string journal;
  } planted[] = {
      {"malformed", "not a journal\n"},
      {"too-large", header + std::string(70000, 'x') + "\n"},
      {"outside", header + "staged\t" + victimFile + "\nmade\t" + victims + "\\\n"},
      {"own", header + "staged\t" + stagedByJournal + "\n"},
  };
  ASSERT_TRUE(CreateDirectoryA(victims.c_str(), nullptr));
  ASSERT_TRUE(WriteFileBytes(victimFile, "someone else's"));
  ASSERT_TRUE(WriteFileBytes(stagedByJournal, "left by a stopped run"));
  CreateDirectoryA(ExpandedText("%LOCALAPPDATA%\\Tessaly").c_str(), nullptr);
  CreateDirectoryA(root.c_str(), nullptr);
  for (const auto& plant : planted) {
    const std::string folder = root + "\\" + plant.folder;
    ASSERT_TRUE(CreateDirectoryA(folder.c_str(), nullptr));
    ASSERT_TRUE(WriteFileBytes(folder + "\\journal.txt", plant.journal));
    ASSERT_EQ(ReadFileBytes(folder + "\\journal.txt"), plant.journal);
  }

  const LoggedRun run = RunHelper(kPackageArguments);
  ExpectCompleteRun(run, "Repaired");
  EXPECT_TRUE(run.HasPrefix("(RecoverUnfinishedRuns)  The journal in " + root +
                            "\\malformed\\ is ignored, it is not a run's journal: "));
  EXPECT_TRUE(run.Has("(RecoverUnfinishedRuns)  The journal in " + root +
                      "\\too-large\\ is ignored, it cannot be read (error 223); nothing it names "
                      "is touched, and the folder is removed"));
  EXPECT_TRUE(run.Has("(RecoverUnfinishedRuns)  Not touched: " + victimFile +
                      " is not where a run stages its installers"));
  EXPECT_EQ(ReadFileBytes(victimFile), std::string("someone else's"));
  EXPECT_TRUE(IsMissing(stagedByJournal));
  ExpectNothingOfTheRunsLeft();
  DeleteFileA(victimFile.c_str());
  RemoveDirectoryA(victims.c_str());
}

}  // namespace
