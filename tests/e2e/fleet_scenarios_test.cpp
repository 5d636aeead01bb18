// The helper on profiles that a fleet's machines have on an ordinary day: a
// nearly full disk, an uninstaller that leaves a program running, a broken
// executable, an unusable temporary or log folder. Each run ends as every
// run must (exit 0 in bounded time, its final line in the log the record
// names, a true outcome) and leaves nobody worse off than before.
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <future>
#include <optional>
#include <regex>
#include <string>
#include <vector>

#include "logging/ansi_text.h"
#include "logging/owners.h"

#include "tests/support/component_profile.h"
#include "tests/support/scenario_checks.h"
#include "tests/support/test_support.h"

using namespace test_support;

namespace {

constexpr char kPrivateStagingFolder[] = "%LOCALAPPDATA%\\Tessaly\\Staging";

bool IsFolder(const std::string& path) {
  const DWORD attributes = GetFileAttributesW(AnsiToWide(path).c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

// The temporary folder of the test and of the helper it starts.
class ScopedTempVariables {
 public:
  explicit ScopedTempVariables(const std::string& folder)
      : temp_("TEMP", folder.c_str()), tmp_("TMP", folder.c_str()) {}

 private:
  ScopedEnvVar temp_;
  ScopedEnvVar tmp_;
};

// The outdated releases, as InstallOutdatedComponents leaves them.
void ExpectOutdatedComponents(const std::vector<std::string>& oldProducts) {
  EXPECT_EQ(FileVersionOf(SetupClientExePath("Tessaly")), "22.7.1.0");
  EXPECT_EQ(FileVersionOf(SetupClientExePath("Quarnel Networks")), "22.7.1.0");
  EXPECT_EQ(FileVersionOf(LauncherExePath()), "22.7.1.0");
  EXPECT_EQ(InstalledLauncherProducts(), oldProducts);
}

// The small file system that the ctest fixture mounts and maps as drive T:,
// filled up to the free space a case asks for.
class SmallDisk {
 public:
  static constexpr ULONGLONG kExpectedSize = 24ull * 1024 * 1024;  // the fixture's size

  SmallDisk() = default;
  ~SmallDisk() { DeleteFileA(kFiller); }
  SmallDisk(const SmallDisk&) = delete;
  SmallDisk& operator=(const SmallDisk&) = delete;

  // The drive exists and is the small file system, not the disk behind Z:.
  bool planted() const {
    ULARGE_INTEGER total{};
    return GetDiskFreeSpaceExA("T:\\", nullptr, &total, nullptr) && total.QuadPart == kExpectedSize;
  }

  std::string Describe() const {
    ULARGE_INTEGER total{};
    const BOOL read = GetDiskFreeSpaceExA("T:\\", nullptr, &total, nullptr);
    return read ? "its size is " + std::to_string(total.QuadPart)
                : "its size cannot be read (" + std::to_string(GetLastError()) + ")";
  }

  ULONGLONG FreeBytes() const {
    ULARGE_INTEGER free{};
    return GetDiskFreeSpaceExA("T:\\", &free, nullptr, nullptr) ? free.QuadPart : 0;
  }

  // Writes the filler so that about `bytes` stay free (the file system
  // counts whole pages); true when the free space reads so afterwards.
  bool LeaveFree(ULONGLONG bytes) {
    constexpr ULONGLONG kPage = 4096;
    DeleteFileA(kFiller);
    const ULONGLONG free = FreeBytes();
    if (free < bytes) return false;
    UniqueHandle filler(CreateFileA(kFiller, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!filler) return false;
    // Written, not extended: a file system may keep an extended file sparse.
    const std::string chunk(1024 * 1024, '\0');
    for (ULONGLONG left = free - bytes; left > 0;) {
      const DWORD size = static_cast<DWORD>(std::min<ULONGLONG>(left, chunk.size()));
      DWORD written = 0;
      if (!WriteFile(filler.get(), chunk.data(), size, &written, nullptr) || written != size) break;
      left -= written;
    }
    filler.reset();
    const ULONGLONG now = FreeBytes();
    return now + 2 * kPage >= bytes && now <= bytes + 2 * kPage;
  }

 private:
  static constexpr char kFiller[] = "T:\\filler.bin";
};

// "the installers need N" of the run's free-space record (the restore
// points included); 0 when it has none.
ULONGLONG NeededRoom(const LoggedRun& run) {
  const std::regex needed(
      R"(\(RemediationRun::RoomProblem\)  The disk of .* the installers need (\d+).*)");
  std::smatch match;
  for (const auto& message : run.messages) {
    if (std::regex_match(message, match, needed)) return std::stoull(match[1].str());
  }
  return 0;
}

class FleetScenario : public ResetProfileTest {};

// A temporary folder on a small disk, from no free space to just enough:
// each run either repairs or leaves every old component in place, and no
// installer is left behind.
TEST_F(FleetScenario, ATempFolderOnASmallDiskEndsRepairedOrWithTheOldComponentsInPlace) {
  InstallOutdatedComponents();
  const std::vector<std::string> oldProducts = InstalledLauncherProducts();
  ASSERT_EQ(oldProducts.size(), 1u);
  ExpectOutdatedComponents(oldProducts);

  SmallDisk disk;
  ASSERT_TRUE(disk.planted()) << "T: is not the fixture's small file system: " << disk.Describe();
  ASSERT_TRUE(CreateDirectoryA("T:\\temp", nullptr) || GetLastError() == ERROR_ALREADY_EXISTS);
  const ScopedTempVariables temp("T:\\temp");

  ULONGLONG needed = 0;
  // No room at all; room for the launcher's installer but not the setup
  // client's; room for both but not for their work.
  for (const ULONGLONG free : {0ull, 60000ull, 8ull * 1024 * 1024}) {
    SCOPED_TRACE(std::to_string(free) + " bytes free");
    ASSERT_TRUE(disk.LeaveFree(free)) << disk.FreeBytes();
    const LoggedRun run = RunHelper(kPackageArguments);
    ExpectCompleteRun(run, "NotRepaired");
    EXPECT_EQ(FinalDump(run, "AppsUnInstalled"), "0: ");
    ExpectOutdatedComponents(oldProducts);
    EXPECT_EQ(FolderLeftovers(L"T:\\temp"), "");
    needed = std::max(needed, NeededRoom(run));
  }

  // The run says how much room it needs; with that room it repairs.
  ASSERT_GT(needed, 0u);
  ASSERT_TRUE(disk.LeaveFree(needed + 256 * 1024)) << disk.FreeBytes();
  const LoggedRun run = RunHelper(kPackageArguments);
  ExpectCompleteRun(run, "Repaired");
  ExpectCurrentComponents("22.7.3.0");
  EXPECT_EQ(FolderLeftovers(L"T:\\temp"), "");
}

// The program the lingering setup client's uninstaller starts, ended and
// removed when the scenario is over.
class UninstallSurvey {
 public:
  static constexpr char kExeName[] = "UninstallSurvey.exe";

  UninstallSurvey() : folder_(ExpandedText("%LOCALAPPDATA%\\Setup Client Survey")) {}
  ~UninstallSurvey() {
    for (const DWORD pid : RunningProcessesNamed(kExeName)) {
      UniqueHandle process(OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, pid));
      if (!process) continue;
      TerminateProcess(process.get(), 1);
      WaitForSingleObject(process.get(), 5000);
    }
    DeleteFileA((folder_ + "\\" + kExeName).c_str());
    RemoveDirectoryA(folder_.c_str());
  }
  UninstallSurvey(const UninstallSurvey&) = delete;
  UninstallSurvey& operator=(const UninstallSurvey&) = delete;

  bool installed() const {
    return GetFileAttributesA((folder_ + "\\" + kExeName).c_str()) != INVALID_FILE_ATTRIBUTES;
  }

 private:
  std::string folder_;
};

// An old setup client whose uninstaller starts a program and leaves it
// running, inside the job the helper waits for. The helper's build here
// waits 8 seconds for the job (the shipped one 3 minutes): the run goes on
// at the limit, leaves the program alone and repairs.
TEST_F(FleetScenario, AnUninstallerThatLeavesAProgramRunningDoesNotHoldUpTheRun) {
  constexpr ULONGLONG kJobLimitMs = 8000;
  constexpr ULONGLONG kRestOfTheRunMs = 60000;
  const UninstallSurvey survey;
  ASSERT_EQ(RunSetupProgram(KitPath("old\\TYSetupClientInstaller_22.7.1_Lingering.exe")), 0u);
  ASSERT_EQ(FileVersionOf(SetupClientExePath()), "22.7.1.0");
  ASSERT_TRUE(survey.installed());
  ASSERT_TRUE(RunningProcessesNamed(UninstallSurvey::kExeName).empty());

  const LoggedRun run = RunHelperExe(TestProgramPath("HelperShortWaits.exe"), kPackageArguments);
  ExpectCompleteRun(run, "Repaired");
  EXPECT_LT(run.elapsedMs, kJobLimitMs + kRestOfTheRunMs);
  EXPECT_TRUE(
      run.HasPrefix("(WinProcess::WaitForJobToComplete)  Job still has 1 process(es) "
                    "after 8000 ms; letting go of it without ending them:"));
  EXPECT_TRUE(run.LogHolds("(UninstallSurvey.exe)"));
  ExpectCurrentComponents("22.7.3.0");
  // Not the helper's to end.
  EXPECT_EQ(RunningProcessesNamed(UninstallSurvey::kExeName).size(), 1u);
}

// Two runs started a second apart (a deployment retried, a user who clicks
// twice): the later one waits for the earlier through the session's run
// lock and then finds nothing to do; both logs end with their final line.
TEST_F(FleetScenario, TwoRunsAtOnceTakeTurnsAndBothReport) {
  InstallOutdatedComponents();
  std::future<LoggedRun> earlier =
      std::async(std::launch::async, [] { return RunHelper(kPackageArguments); });
  Sleep(1000);
  const LoggedRun later = RunHelper(kPackageArguments);
  const LoggedRun first = earlier.get();

  const std::string waiting =
      "(RunLock::Acquire)  Another process holds Local\\Orvane.UpgradeHelper.Run; waiting up to "
      "1800 seconds for it to end";
  ASSERT_NE(first.Has(waiting), later.Has(waiting)) << "not exactly one run waited";
  const LoggedRun& repairing = first.Has(waiting) ? later : first;
  const LoggedRun& waited = first.Has(waiting) ? first : later;
  EXPECT_TRUE(
      waited.HasPrefix("(RunLock::Acquire)  Local\\Orvane.UpgradeHelper.Run became free after "));
  for (const LoggedRun* run : {&repairing, &waited}) {
    ASSERT_TRUE(run->child.finished) << "a run did not end in time";
    EXPECT_EQ(run->child.exitCode, 0u);
    EXPECT_TRUE(run->Has(FinalResultLine("Success"))) << run->logPath;
  }
  EXPECT_TRUE(
      repairing.HasPrefix("(HandlePostRunActivities)  Verified outcome of this run:  Repaired"));
  // The run that ended last wrote the record, and found the repair done.
  ExpectCompleteRun(waited, "AlreadyCurrent");
  ExpectCurrentComponents("22.7.3.0");
}

// A setup client executable of 0 bytes has no version to read: it is
// repaired like a missing one.
TEST_F(FleetScenario, AnEmptySetupClientExecutableIsRepaired) {
  InstallCurrentComponents();
  ASSERT_TRUE(WriteFileBytes(SetupClientExePath(), ""));
  ASSERT_EQ(ReadFileBytes(SetupClientExePath()), std::string());

  const LoggedRun run = RunHelper(kPackageArguments);
  ExpectCompleteRun(run, "Repaired");
  EXPECT_TRUE(run.LogHolds(
      "KSC needs repair: its executable has no version resource or is no valid image"));
  ExpectCurrentComponents("22.7.3.0");
  EXPECT_EQ(RunRecordValue("LastRunVersions"), "KVAL 22.7.2; KSC 22.7.3");
}

// Temporary folders the installers cannot be written to: the run stages
// them in its private folder instead, repairs, and removes that folder.
TEST_F(FleetScenario, UnusableTempFoldersEndRepairedThroughThePrivateFolder) {
  const ScopedTempDir scratch;
  // Nested to about 250 characters: too long for a temporary name beside it.
  std::string longFolder = scratch.path();
  while (longFolder.size() < 230) {
    longFolder += "\\nested-folder";
    ASSERT_TRUE(CreateDirectoryA(longFolder.c_str(), nullptr)) << longFolder;
  }
  longFolder += "\\" + std::string(250 - longFolder.size() - 1, 't');
  ASSERT_TRUE(CreateDirectoryA(longFolder.c_str(), nullptr)) << longFolder;
  ASSERT_EQ(longFolder.size(), 250u);
  ASSERT_TRUE(IsFolder(longFolder));

  const std::string missingFolder = scratch.path() + "\\no such folder";
  ASSERT_FALSE(IsFolder(missingFolder));
  const std::string privateFolder = ExpandedText(kPrivateStagingFolder);

  for (const std::string& temp : {missingFolder, std::string("%USERPROFILE%\\Temp"), longFolder}) {
    SCOPED_TRACE(temp);
    ResetProfile();
    LoggedRun run;
    {
      const ScopedTempVariables variables(temp);
      run = RunHelper("");
    }
    ExpectCompleteRun(run, "Repaired");
    // (Wine makes a relative TEMP absolute, the variable's text kept.)
    EXPECT_TRUE(run.LogHolds(temp + "\\ ")) << "the log does not name " << temp;
    EXPECT_TRUE(run.LogHolds("; installers are staged in " + privateFolder + "\\ instead"));
    EXPECT_TRUE(run.Has("(StagingFolder)  The programs this run starts use " + privateFolder +
                        "\\Temp\\ as their temporary folder"));
    EXPECT_EQ(WrittenPayloadPath(run, "TessalyAppLauncher.msi").rfind(privateFolder + "\\", 0), 0u);
    ExpectCurrentComponents("22.7.2.0");
    EXPECT_FALSE(IsFolder(privateFolder));
  }
}

// A progress window that never comes up, or never closes (the shell hung
// beside a hung program): the run waits for it no longer than its limits,
// repairs, reports and ends. The helper's test build puts such a dialog in
// place of the shell's.
void ExpectRunPastAStalledDialog(const std::string& stall) {
  constexpr ULONGLONG kDialogLimitsMs = 10000 + 10000;
  constexpr ULONGLONG kRestOfTheRunMs = 60000;
  LoggedRun run;
  {
    const ScopedEnvVar dialog("REMEDION_DIALOG_STALL", stall.c_str());
    run = RunHelperExe(TestProgramPath("HelperShortWaits.exe"), kPackageArguments);
  }
  ExpectCompleteRun(run, "Repaired");
  EXPECT_LT(run.elapsedMs, kDialogLimitsMs + kRestOfTheRunMs);
  EXPECT_EQ(run.Has("(QVProgressMessageBox::start::<lambda()>)  Progress window did not start "
                    "within 10000 ms; going on without it"),
            stall == "start");
  EXPECT_TRUE(
      run.Has("(QVProgressMessageBox::~QVProgressMessageBox)  Progress window did not end "
              "within 10000 ms; going on without it"));
  ExpectCurrentComponents("22.7.3.0");
}

TEST_F(FleetScenario, AProgressWindowThatNeverComesUpDoesNotHoldUpTheRun) {
  ExpectRunPastAStalledDialog("start");
}

TEST_F(FleetScenario, AProgressWindowThatNeverClosesDoesNotHoldUpTheRun) {
  ExpectRunPastAStalledDialog("stop");
}

// The public log folder's name taken by a file.
class PublicLogFolderBlocked {
 public:
  PublicLogFolderBlocked()
      : folder_(ExpandedText("%PUBLIC%\\Tessaly\\Logging")), aside_(folder_ + ".aside") {
    movedAside_ = IsFolder(folder_) && MoveFileA(folder_.c_str(), aside_.c_str());
    CreateDirectoryA(ExpandedText("%PUBLIC%\\Tessaly").c_str(), nullptr);
    WriteFileBytes(folder_, "not a folder");
  }
  ~PublicLogFolderBlocked() {
    DeleteFileA(folder_.c_str());
    if (movedAside_) MoveFileA(aside_.c_str(), folder_.c_str());
  }
  PublicLogFolderBlocked(const PublicLogFolderBlocked&) = delete;
  PublicLogFolderBlocked& operator=(const PublicLogFolderBlocked&) = delete;

  bool planted() const {
    const DWORD attributes = GetFileAttributesA(folder_.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
  }

 private:
  std::string folder_;
  std::string aside_;
  bool movedAside_ = false;
};

// With the public log folder blocked, the whole run's log is in the
// per-user folder, and the record names that file.
TEST_F(FleetScenario, ALogFolderReplacedByAFileLeavesACompleteLogInThePerUserFolder) {
  LoggedRun run;
  {
    const PublicLogFolderBlocked blocked;
    ASSERT_TRUE(blocked.planted());
    run = RunHelper("");
  }
  ExpectCompleteRun(run, "Repaired");
  EXPECT_EQ(run.logPath, PerUserLogPathForPid(run.child.pid));
  EXPECT_TRUE(
      run.Has("(PrimitiveLogger::EnableLogToFile)  Log written to the per-user folder "
              "instead:  " +
              run.logPath));
  ExpectCurrentComponents("22.7.2.0");
}

}  // namespace
