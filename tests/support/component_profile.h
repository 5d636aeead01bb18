// The per-user components of the test prefix's user, as a user or an admin
// sees them: installed files and their versions, the launcher's Windows
// Installer products, the client programs running, the completion marker.
// Scenarios put the profile into a known state with the kit's installers and
// restore it afterwards.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "tests/support/test_support.h"

namespace test_support {

// The helper's key under HKEY_CURRENT_USER (the completion marker and the
// run's result record) and under HKEY_LOCAL_MACHINE (the desktop client's
// required version, "KDCVersion").
constexpr char kRemedionKey[] = "SOFTWARE\\TESSALY\\REMEDION";

// The setup client's registration in Programs and Features, followed by
// " (<company>)".
constexpr char kSetupClientRegistrationKey[] =
    "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Kelvo Setup Client";

// "%APPDATA%\<company>\Setup Client\KelvoSetupClient.exe".
std::string SetupClientExePath(const std::string& company = "Tessaly");
// "%APPDATA%\Tessaly\KVAL\KelvoApplicationLauncher.exe".
std::string LauncherExePath();
// Where the helper looks for the machine-wide client's user interface.
std::string MachineWideClientPath();
// The desktop client's version file the helper reads under -zar:.
std::string VersionIniPath();

// "a.b.c.d" of the file's fixed version record; empty when unreadable.
std::string FileVersionOf(const std::string& path);

// Product codes of the installed products related to an upgrade code (the
// launcher's), and one product's version text.
std::vector<std::string> RelatedProducts(const std::string& upgradeCode);
std::vector<std::string> InstalledLauncherProducts();
std::string ProductVersion(const std::string& productCode);

// Process ids of running programs with this file name (any letter case),
// or whose file name begins with `prefix`.
std::vector<DWORD> RunningProcessesNamed(const std::string& exeName);
std::vector<DWORD> RunningProcessesNamedLike(const std::string& prefix);

// Runs an installer of the kit silently and returns its exit code (all bits
// set when it could not be started or did not end within two minutes).
DWORD RunSetupProgram(const std::string& path);
DWORD RunMsiexec(const std::string& arguments);

// Installs the current (22.7.2) setup client and launcher from the kit.
void InstallCurrentComponents();
// Installs the outdated releases: setup client 22.7.1 under both company
// folders, launcher 22.7.1.
void InstallOutdatedComponents();

// Completion marker "PerUserCompsFixed" under HKCU.
bool IsCompletionMarked();
void SetCompletionMarker();

// The desktop client's build as the machine requires it ("KDCVersion" under
// HKEY_LOCAL_MACHINE, 32-bit view) and as its version INI under the 32-bit
// program files folder names it; no version removes the value or the file.
void SetRequiredDesktopClientVersion(const std::optional<std::string>& version);
void SetInstalledDesktopClientVersion(const std::optional<std::string>& version);

// A value of the run's result record beside the marker ("LastRunResult",
// "LastRunTime", "LastRunLog", "LastRunHelperVersion", "LastRunSummary",
// "LastRunOutcome", "LastRunVersions");
// nothing when it is not there.
std::optional<std::string> RunRecordValue(const std::string& name);
void ClearRunRecord();
// Seconds from a "YYYY-MM-DD HH:MM:SS" UTC text to now; nothing when the
// text is not one.
std::optional<long long> SecondsSinceUtc(const std::string& utcText);

// Ends the client programs, removes every launcher product and the
// components' folders and registrations, what stopped runs of the helper
// left (restore and staging folders), the marker, the desktop client's registry version and
// version INI, the run's result record, the machine-wide client stand-in and
// the launcher's Windows Installer log.
void ResetProfile();

// A test that changes the profile: it starts from a reset one and leaves one.
class ResetProfileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    TakeLoggedRuns();
    ResetProfile();
  }
  // A failed scenario shows what the programs it ran logged.
  void TearDown() override {
    const std::string logs = TakeLoggedRuns();
    if (HasFailure()) std::fprintf(stderr, "The logs of the programs this test ran:\n%s", logs.c_str());
    ResetProfile();
  }
};

}  // namespace test_support
