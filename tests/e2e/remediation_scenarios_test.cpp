// The helper's whole job, run as the installer package or a user runs it,
// on profiles prepared with the kit's real installers. Each scenario is
// judged by what a user or an admin can see: the exit code, the log, the
// completion marker, the installed files and products, the processes.
#include <gtest/gtest.h>

#include <windows.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "logging/owners.h"

#include "tests/support/component_profile.h"
#include "tests/support/scenario_checks.h"
#include "tests/support/stand_in_programs.h"
#include "tests/support/test_support.h"
#include "tests/support/user_folders.h"

using namespace test_support;

namespace {

const std::string kSuccessLine = FinalResultLine("Success");
const std::string kFailureLine = FinalResultLine("Failure");

class RemediationScenario : public ResetProfileTest {};

TEST_F(RemediationScenario, FreshProfileGetsBothComponentsFromTheCurrentPayloads) {
  const LoggedRun run = RunHelper("");
  ExpectCompleteRun(run, "Repaired");

  EXPECT_EQ(FinalDump(run, "ProcessesKilled"), "0: ");
  EXPECT_EQ(FinalDump(run, "AppsUnInstalled"), "0: ");
  EXPECT_EQ(FinalDump(run, "AppsInstalled"), "2: Setup Client, KVAL");
  EXPECT_TRUE(run.Has(kSuccessLine));

  // Started by hand, not by the package: the older setup client release.
  ExpectCurrentComponents("22.7.2.0");
  EXPECT_EQ(RunRecordValue("LastRunVersions"), "KVAL 22.7.2; KSC 22.7.2");
  EXPECT_TRUE(IsCompletionMarked());
  // The installers' temporary files are gone.
  const std::string setupPath = WrittenPayloadPath(run, "TYSetupClientInstaller.exe");
  const std::string launcherPath = WrittenPayloadPath(run, "TessalyAppLauncher.msi");
  ASSERT_FALSE(setupPath.empty());
  ASSERT_FALSE(launcherPath.empty());
  EXPECT_FALSE(std::filesystem::exists(FsPath(setupPath)));
  EXPECT_FALSE(std::filesystem::exists(FsPath(launcherPath)));
}

// Outdated components, running, replaced as the installer package runs the
// helper; with and without the machine-wide client, which decides the setup
// client's release.
void RunOutdatedProfileScenario(bool machineWideClientPresent) {
  InstallOutdatedComponents();
  ASSERT_EQ(FileVersionOf(SetupClientExePath("Tessaly")), "22.7.1.0");
  ASSERT_EQ(FileVersionOf(SetupClientExePath("Quarnel Networks")), "22.7.1.0");
  ASSERT_EQ(FileVersionOf(LauncherExePath()), "22.7.1.0");
  const auto oldProducts = InstalledLauncherProducts();
  ASSERT_EQ(oldProducts.size(), 1u);
  ASSERT_EQ(ProductVersion(oldProducts[0]), "22.7.1");
  if (machineWideClientPresent) {
    std::filesystem::create_directories(
        FsPath(MachineWideClientPath()).parent_path());
    ASSERT_TRUE(CopyFileA(StandInPath("Kelvo-22.7.2.0", "Kelvo.exe").c_str(),
                          MachineWideClientPath().c_str(), FALSE));
  }
  RunningProgram setupClient(SetupClientExePath("Tessaly"));
  RunningProgram launcher(LauncherExePath());
  ASSERT_TRUE(setupClient.IsRunning());
  ASSERT_TRUE(launcher.IsRunning());

  const LoggedRun run = RunHelper(kPackageArguments);
  ExpectCompleteRun(run, "Repaired");

  EXPECT_FALSE(setupClient.IsRunning(5000));
  EXPECT_FALSE(launcher.IsRunning(5000));
  EXPECT_TRUE(RunningProcessesNamed("KelvoSetupClient.exe").empty());
  EXPECT_TRUE(RunningProcessesNamed("KelvoApplicationLauncher.exe").empty());
  const std::string killed = FinalDump(run, "ProcessesKilled");
  EXPECT_TRUE(killed == "2: KelvoSetupClient.exe, KelvoApplicationLauncher.exe" ||
              killed == "2: KelvoApplicationLauncher.exe, KelvoSetupClient.exe")
      << killed;
  // The setup client under both company folders, and the launcher.
  EXPECT_EQ(FinalDump(run, "AppsUnInstalled"), "3: Setup Client, Kelvo Application Launcher");
  EXPECT_EQ(FinalDump(run, "AppsInstalled"), "2: Setup Client, KVAL");
  EXPECT_FALSE(std::filesystem::exists(FsPath(SetupClientExePath("Quarnel Networks"))));
  for (const auto& product : InstalledLauncherProducts()) EXPECT_NE(product, oldProducts[0]);

  // Without the machine-wide client, the package's run takes the setup
  // client's newer release, and the log says why.
  const bool webFlow = !machineWideClientPresent;
  EXPECT_EQ(run.Has("(doesZELKExist)  It appears that ZELK is missing, which suggests that the OUH "
                    "flow might be web-based."),
            webFlow);
  ExpectCurrentComponents(webFlow ? "22.7.3.0" : "22.7.2.0");
  EXPECT_TRUE(IsCompletionMarked());
  EXPECT_TRUE(run.Has(kSuccessLine));
}

TEST_F(RemediationScenario,
       OutdatedComponentsAreReplacedByTheCurrentReleaseWithoutMachineWideClient) {
  RunOutdatedProfileScenario(false);
}

TEST_F(RemediationScenario, OutdatedComponentsBesideTheMachineWideClientGetTheOlderSetupClient) {
  RunOutdatedProfileScenario(true);
}

// The final line keeps its rule (no marker, so "Failure"); the outcome says
// what the run verified.
TEST_F(RemediationScenario, CurrentComponentsAreLeftAloneAndWithoutMarkerTheResultIsFailure) {
  InstallCurrentComponents();
  ASSERT_EQ(FileVersionOf(LauncherExePath()), "22.7.2.0");

  const LoggedRun run = RunHelper(kPackageArguments);
  ExpectCompleteRun(run, "AlreadyCurrent");
  EXPECT_EQ(RunRecordValue("LastRunVersions"), "KVAL 22.7.2; KSC 22.7.2");
  EXPECT_EQ(FinalDump(run, "ProcessesKilled"), "0: ");
  EXPECT_EQ(FinalDump(run, "AppsUnInstalled"), "0: ");
  EXPECT_EQ(FinalDump(run, "AppsInstalled"), "0: ");
  EXPECT_FALSE(IsCompletionMarked());
  EXPECT_TRUE(run.Has(kFailureLine));
  EXPECT_EQ(RunRecordValue("LastRunResult"), "Failure");
  EXPECT_EQ(RunRecordValue("LastRunSummary"), "terminated 0; uninstalled 0; installed 0");
  ExpectCurrentComponents("22.7.2.0");
}

// With the marker set (by an earlier run) and "-zar:" given, the result rests
// on the desktop client's build numbers: required (registry) against
// installed (version INI).
TEST_F(RemediationScenario, DesktopClientBuildNumbersDecideTheResultUnderZar) {
  InstallCurrentComponents();
  SetCompletionMarker();

  struct Row {
    std::optional<std::string> required;  // "KDCVersion" in the registry
    std::string installed;                // DisplayVersion in the version INI
    bool success;
  };
  const Row rows[] = {
      {"22.7.3.1234", "22.7.3.1234", true},
      {"22.7.3.1234", "22.7.2.1100", false},
      {"22.7.3.1234", "21.1.0.5000", true},
      {std::nullopt, "22.7.3.1234", false},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.required.value_or("(none)") + " / " + row.installed);
    SetRequiredDesktopClientVersion(row.required);
    SetInstalledDesktopClientVersion(row.installed);

    const LoggedRun run = RunHelper(std::string(kPackageArguments) + " -zar: 1");
    ASSERT_TRUE(run.child.finished);
    EXPECT_EQ(run.child.exitCode, 0u);
    EXPECT_TRUE(run.Has(row.success ? kSuccessLine : kFailureLine));
  }
}

// A test build of the helper whose payloads carry a near-miss signer name,
// on a profile with outdated components: nothing is run, and nothing is
// removed that the run could not replace. A completion marker from an
// earlier run still gives "Success" as the final line, and the outcome and
// one more line say that this run repaired nothing.
TEST_F(RemediationScenario, PayloadsOfAnotherSignerAreNeverRunAndTheOldComponentsStay) {
  InstallOutdatedComponents();
  ASSERT_EQ(FileVersionOf(LauncherExePath()), "22.7.1.0");
  const auto oldProducts = InstalledLauncherProducts();
  ASSERT_EQ(oldProducts.size(), 1u);

  const LoggedRun run = RunHelperExe(TestProgramPath("HelperBadSigner.exe"), kPackageArguments);
  ExpectCompleteRun(run, "NotRepaired");
  // The log says why nothing was removed.
  EXPECT_TRUE(
      run.HasPrefix("(UnInstallAllPerUserKelvoComponents)  Not removing Setup Client: "
                    "its installer TYSetupClientInstaller_22.7.3.exe did not pass"));
  EXPECT_TRUE(
      run.HasPrefix("(UnInstallAllPerUserKelvoComponents)  Not removing Kelvo Application "
                    "Launcher: its installer TessalyAppLauncher.msi did not pass"));
  EXPECT_EQ(FinalDump(run, "AppsUnInstalled"), "0: ");
  EXPECT_EQ(FinalDump(run, "AppsInstalled"), "0: ");
  EXPECT_TRUE(run.Has(kFailureLine));
  EXPECT_FALSE(IsCompletionMarked());

  // The old components are still installed, and they still run.
  EXPECT_EQ(FileVersionOf(SetupClientExePath("Tessaly")), "22.7.1.0");
  EXPECT_EQ(FileVersionOf(SetupClientExePath("Quarnel Networks")), "22.7.1.0");
  EXPECT_EQ(FileVersionOf(LauncherExePath()), "22.7.1.0");
  EXPECT_EQ(InstalledLauncherProducts(), oldProducts);
  RunningProgram setupClient(SetupClientExePath("Tessaly"));
  RunningProgram launcher(LauncherExePath());
  EXPECT_TRUE(setupClient.IsRunning());
  EXPECT_TRUE(launcher.IsRunning());

  // The files that failed verification stay where they were written.
  for (const char* name : {"TYSetupClientInstaller_22.7.3.exe", "TessalyAppLauncher.msi"}) {
    const std::string path = WrittenPayloadPath(run, name);
    ASSERT_FALSE(path.empty()) << name;
    EXPECT_TRUE(std::filesystem::exists(FsPath(path))) << path;
    DeleteFileA(path.c_str());
  }

  SetCompletionMarker();
  const LoggedRun marked = RunHelperExe(TestProgramPath("HelperBadSigner.exe"),
                                        std::string(kPackageArguments) + " -forceReRun: True");
  ExpectCompleteRun(marked, "NotRepaired");
  EXPECT_TRUE(marked.Has(kSuccessLine));
  EXPECT_EQ(RunRecordValue("LastRunResult"), "Success");
  EXPECT_TRUE(marked.HasPrefix(
      "(HandlePostRunActivities)  The final result says Success, but this run did not repair"));
  EXPECT_EQ(RunRecordValue("LastRunVersions"), "KVAL 22.7.1; KSC 22.7.1");
  EXPECT_EQ(FileVersionOf(SetupClientExePath("Tessaly")), "22.7.1.0");
  for (const char* name : {"TYSetupClientInstaller_22.7.3.exe", "TessalyAppLauncher.msi"}) {
    DeleteFileA(WrittenPayloadPath(marked, name).c_str());
  }
}

// Windows runs one installation at a time. While another installation
// holds the installer, the helper waits for it before starting msiexec, and
// the repair still succeeds. (Wine's own msiexec does not take this mutex,
// so the test holds it as another installation would.)
TEST_F(RemediationScenario, ABusyWindowsInstallerDelaysMsiexecAndTheRepairStillSucceeds) {
  constexpr DWORD kHoldAfterSetupClientMs = 3000;
  constexpr DWORD kHoldAtMostMs = 90000;
  UniqueHandle held(CreateEventA(nullptr, TRUE, FALSE, nullptr));
  std::atomic<bool> planted{false};
  // Taken before the helper starts; given back a while after the helper has
  // installed the setup client, when the launcher's msiexec is next.
  std::thread otherInstallation([&] {
    UniqueHandle mutex(CreateMutexA(nullptr, TRUE, "Global\\_MSIExecute"));
    planted = mutex && GetLastError() != ERROR_ALREADY_EXISTS;
    SetEvent(held.get());
    const ULONGLONG start = GetTickCount64();
    while (!std::filesystem::exists(FsPath(SetupClientExePath())) &&
           GetTickCount64() - start < kHoldAtMostMs) {
      Sleep(100);
    }
    Sleep(kHoldAfterSetupClientMs);
    if (mutex) ReleaseMutex(mutex.get());
  });
  WaitForSingleObject(held.get(), INFINITE);
  if (!planted) otherInstallation.join();
  ASSERT_TRUE(planted) << "the installer's mutex could not be taken for the test";

  const LoggedRun run = RunHelper("");
  otherInstallation.join();
  ASSERT_TRUE(run.child.finished);

  const int waitStarted = IndexOf(
      run.messages,
      "(WaitForWindowsInstaller)  Windows Installer is busy with another installation; waiting "
      "up to 600 seconds");
  ASSERT_GE(waitStarted, 0);
  std::smatch waited;
  int waitEnded = -1;
  for (size_t index = 0; index < run.messages.size(); ++index) {
    if (std::regex_match(run.messages[index], waited,
                         std::regex(R"(\(WaitForWindowsInstaller\)  Windows Installer became free )"
                                    R"(after (\d+) ms)"))) {
      waitEnded = static_cast<int>(index);
      break;
    }
  }
  ASSERT_GT(waitEnded, waitStarted);
  EXPECT_GE(std::stoul(waited[1].str()), kHoldAfterSetupClientMs - 500);
  // msiexec started only after the wait.
  int msiexecStarted = -1;
  for (size_t index = 0; index < run.messages.size(); ++index) {
    if (run.messages[index].find("(WinProcess::Launch)  Launching") == 0 &&
        run.messages[index].find("MsiExec.exe  /i") != std::string::npos) {
      msiexecStarted = static_cast<int>(index);
    }
  }
  EXPECT_GT(msiexecStarted, waitEnded);
  EXPECT_TRUE(run.Has(kSuccessLine));
  ExpectCurrentComponents("22.7.2.0");
}

// Users are named as people are: with the letters of their code page. The
// helper runs under that code page (LANG for Wine, set by the ctest entry)
// with its application-data and temporary folders in a profile folder so
// named, repairs the components there and leaves nothing in the temporary
// folder.
TEST_F(RemediationScenario, OutdatedComponentsOfAUserNamedInTheCodePageAreReplaced) {
  struct User {
    UINT codePage;
    const wchar_t* name;
  };
  const User users[] = {
      {1250, L"\u0141ukasz Wi\u015bniewski"},  // Łukasz Wiśniewski
      {1251,
       L"\u0414\u043c\u0438\u0442\u0440\u0438\u0439 "
       L"\u041a\u0443\u0437\u043d\u0435\u0446\u043e\u0432"},  // Дмитрий Кузнецов
  };
  const char* expected = std::getenv("REMEDION_EXPECTED_CODE_PAGE");
  ASSERT_NE(expected, nullptr);
  ASSERT_EQ(GetACP(), std::strtoul(expected, nullptr, 10)) << "Wine did not take the code page";
  const User* user = nullptr;
  for (const User& candidate : users) {
    if (candidate.codePage == GetACP()) user = &candidate;
  }
  ASSERT_NE(user, nullptr);

  ScopedUserFolders folders(user->name);
  ASSERT_TRUE(folders.planted());
  ResetProfile();
  InstallOutdatedComponents();
  ASSERT_EQ(FileVersionOf(SetupClientExePath("Tessaly")), "22.7.1.0");
  ASSERT_EQ(FileVersionOf(LauncherExePath()), "22.7.1.0");
  ASSERT_EQ(SetupClientExePath().find(folders.roamingNarrow()), 0u);

  const LoggedRun run = RunHelper(kPackageArguments);
  ASSERT_TRUE(run.child.finished);
  EXPECT_EQ(run.child.exitCode, 0u);
  EXPECT_TRUE(run.Has(kSuccessLine));
  ExpectCurrentComponents("22.7.3.0");
  EXPECT_FALSE(std::filesystem::exists(FsPath(SetupClientExePath("Quarnel Networks"))));
  // The installers went to this user's temporary folder, and went again.
  const std::string written = WrittenPayloadPath(run, "TessalyAppLauncher.msi");
  EXPECT_EQ(written.find(folders.tempNarrow()), 0u) << written;
  EXPECT_EQ(folders.TempLeftovers(), "");
  ResetProfile();
}

// A test build whose launcher package fails to install (msiexec ends 1603).
TEST_F(RemediationScenario, FailingLauncherInstallLeavesTheMarkerUnset) {
  const LoggedRun run = RunHelperExe(TestProgramPath("HelperFailingMsi.exe"), kPackageArguments);
  ExpectCompleteRun(run, "NotRepaired");
  EXPECT_TRUE(run.Has(
      "(InstallAllPerUserKelvoComponents)  KVAL Installation failed; Not marking status in reg."));
  EXPECT_EQ(FinalDump(run, "AppsInstalled"), "1: Setup Client");
  EXPECT_FALSE(IsCompletionMarked());
  EXPECT_TRUE(InstalledLauncherProducts().empty());
  EXPECT_TRUE(run.Has(kFailureLine));
  // The setup client's install went on regardless.
  EXPECT_EQ(FileVersionOf(SetupClientExePath()), "22.7.3.0");
}

}  // namespace
