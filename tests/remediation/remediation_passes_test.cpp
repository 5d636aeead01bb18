// Edge cases of the removal flows and the per-user handler, each run in a
// probe process against the test prefix's real Windows Installer and files.
#include <gtest/gtest.h>

#include <windows.h>
#include <msi.h>

#include <filesystem>
#include <regex>
#include <string>
#include <vector>

#include "tests/support/component_profile.h"
#include "tests/support/test_support.h"

using namespace test_support;

namespace {

LoggedRun RunRemediationProbe(const std::string& arguments) {
  return RunProbe("remediation_probe.exe", arguments);
}

std::string ProductName(const std::string& productCode) {
  char name[260] = {};
  DWORD size = sizeof(name);
  MsiGetProductInfoA(productCode.c_str(), "ProductName", name, &size);
  return name;
}

class RemediationPasses : public ResetProfileTest {};

// Two packages share the launcher's upgrade code: one whose name only begins
// like the launcher's, one with the launcher's name in lower case. Only the
// second is the launcher.
TEST_F(RemediationPasses, LauncherIsFoundByItsWholeNameInAnyCase) {
  const LoggedRun none = RunRemediationProbe("remove-launcher");
  ASSERT_TRUE(none.child.finished);
  EXPECT_EQ(none.child.exitCode, 0u);
  EXPECT_EQ(CountOf(none.messages, "(UninstallProductByUpgradeCode)  >>>"), 1u);
  for (const auto& message : none.messages) {
    EXPECT_EQ(message.find("UnInstallation of"), std::string::npos) << message;
  }

  ASSERT_EQ(RunMsiexec("/i \"" + KitPath("fixtures\\launcher_named_other.msi") + "\" /qn"), 0u);
  ASSERT_EQ(RunMsiexec("/i \"" + KitPath("fixtures\\launcher_named_lower_case.msi") + "\" /qn"),
            0u);
  std::string otherCode, launcherCode;
  for (const auto& code : InstalledLauncherProducts()) {
    (ProductName(code) == "Kelvo Application Launcher 2" ? otherCode : launcherCode) = code;
  }
  ASSERT_FALSE(otherCode.empty());
  ASSERT_FALSE(launcherCode.empty());

  const LoggedRun run = RunRemediationProbe("remove-launcher");
  ASSERT_TRUE(run.child.finished);
  EXPECT_EQ(run.child.exitCode, 1u);
  EXPECT_EQ(CountOf(run.messages,
                    "(UninstallProductByUpgradeCode)  UnInstallation of Kelvo Application "
                    "Launcher successful"),
            1u);
  EXPECT_NE(MsiQueryProductStateA(launcherCode.c_str()), INSTALLSTATE_DEFAULT);
  EXPECT_EQ(MsiQueryProductStateA(otherCode.c_str()), INSTALLSTATE_DEFAULT);
  // Wine forgets the upgrade code of every product sharing it when one of
  // them is removed, so the other package is removed by its own code.
  RunMsiexec("/x " + otherCode + " /qn");
}

// The uninstall pass stops the client programs whatever the mask, and
// removes only the components the mask names.
TEST_F(RemediationPasses, UninstallPassActsOnTheMaskedComponentsOnly) {
  const LoggedRun nothing = RunRemediationProbe("uninstall-pass 0");
  ASSERT_TRUE(nothing.child.finished);
  EXPECT_EQ(CountOf(nothing.messages, "(TerminateKelvoProcesses)  >>>"), 1u);
  EXPECT_EQ(CountOf(nothing.messages, "(CallUninstaller)  >>>"), 0u);
  EXPECT_EQ(CountOf(nothing.messages, "(UninstallProductByUpgradeCode)  >>>"), 0u);

  // The setup client is present under "Tessaly" only.
  ASSERT_EQ(RunSetupProgram(KitPath("old\\TYSetupClientInstaller_22.7.1_Tessaly.exe")), 0u);
  ASSERT_EQ(FileVersionOf(SetupClientExePath()), "22.7.1.0");
  const LoggedRun setupClient = RunRemediationProbe("uninstall-pass 0x400");
  ASSERT_TRUE(setupClient.child.finished);
  EXPECT_EQ(CountOf(setupClient.messages, "(CallUninstaller)  >>>"), 2u);
  EXPECT_EQ(CountOf(setupClient.messages,
                    "(CallUninstaller)  UnInstallation of Setup Client  (from Tessaly) successful"),
            1u);
  const std::string quarnelUninstaller = SetupClientExePath("Quarnel Networks");
  const std::string missingLine = "(CallUninstaller)  UninstallFile: " +
                                  quarnelUninstaller.substr(0, quarnelUninstaller.rfind('\\') + 1) +
                                  "uninstall.exe does not exist";
  EXPECT_EQ(CountOf(setupClient.messages, missingLine), 1u);
  // The uninstaller's job is named after the helper and the moment.
  bool namedJob = false;
  for (const auto& message : setupClient.messages) {
    namedJob = namedJob || std::regex_match(message, std::regex(R"(\(WinProcess::LaunchAsJob\)  )"
                                                                R"(>>>  Launching as Job:  )"
                                                                R"(Local\\Remedion_\d{13})"));
  }
  EXPECT_TRUE(namedJob);
  EXPECT_EQ(CountOf(setupClient.messages, "(UninstallProductByUpgradeCode)  >>>"), 0u);
  EXPECT_FALSE(std::filesystem::exists(FsPath(SetupClientExePath())));
}

// msiexec started while another installation runs ends with 1618, and one
// whose /L log cannot be opened (the log folder is shared by every user) with
// 1622. Neither costs the removal: a stand-in msiexec answers 1618, then
// 1622, then 0.
TEST_F(RemediationPasses, MsiexecRunsAgainWhenTheInstallerIsBusyOrItsLogCannotBeOpened) {
  ASSERT_EQ(RunMsiexec("/i \"" + KitPath("old\\TessalyAppLauncher_22.7.1.msi") + "\" /qn"), 0u);
  ScopedTempDir windows;
  const std::string system32 = windows.path() + "\\System32";
  ASSERT_TRUE(CreateDirectoryA(system32.c_str(), nullptr));
  ASSERT_TRUE(CopyFileA(TestProgramPath("msiexec_stand_in.exe").c_str(),
                        (system32 + "\\MsiExec.exe").c_str(), FALSE));
  const std::string calls = windows.path() + "\\calls.txt";

  LoggedRun run;
  {
    ScopedEnvVar winDir("WinDir", windows.path().c_str());
    ScopedEnvVar codes("REMEDION_MSIEXEC_EXIT_CODES", "1618,1622,0");
    ScopedEnvVar callList("REMEDION_MSIEXEC_CALLS", calls.c_str());
    run = RunRemediationProbe("remove-launcher");
  }
  ASSERT_TRUE(run.child.finished);
  EXPECT_EQ(run.child.exitCode, 1u) << "the removal counts as done";

  std::vector<std::string> lines = SplitCrLfLines(ReadFileBytes(calls).value_or(""));
  if (!lines.empty() && lines.back().empty()) lines.pop_back();
  ASSERT_EQ(lines.size(), 3u);
  const size_t logSwitch = lines[1].find(" /L*v+ ");
  ASSERT_NE(logSwitch, std::string::npos);
  EXPECT_EQ(lines[0], lines[1]);
  EXPECT_EQ(lines[2], lines[1].substr(0, logSwitch)) << "the same run without its log";

  EXPECT_EQ(CountOf(run.messages,
                    "(RunMsiExec)  Windows Installer is busy with another installation (1618); "
                    "trying again in 5 seconds"),
            1u);
  EXPECT_EQ(CountOf(run.messages,
                    "(RunMsiExec)  msiexec could not open its log (1622); running it again "
                    "without the log switch"),
            1u);
  EXPECT_EQ(CountOf(run.messages,
                    "(UninstallProductByUpgradeCode)  UnInstallation of Kelvo Application "
                    "Launcher successful"),
            1u);
}

TEST_F(RemediationPasses, HandlerSkipsMarkedRunsAndUnknownModes) {
  const LoggedRun unknown = RunRemediationProbe("handler 2 -forceReRun: True");
  ASSERT_TRUE(unknown.child.finished);
  EXPECT_EQ(CountOf(unknown.messages,
                    "(HandlePerUserKelvoComponents)  ReRun is forced; So, will not check registry"),
            1u);
  EXPECT_EQ(CountOf(unknown.messages,
                    "(HandlePerUserKelvoComponents)  Unrecognized mode for "
                    "PUCOMP:  2"),
            1u);
  EXPECT_EQ(CountOf(unknown.messages, "(InstallAllPerUserKelvoComponents)  >>>"), 0u);
  EXPECT_EQ(CountOf(unknown.messages, "(UnInstallAllPerUserKelvoComponents)  >>>"), 0u);

  // Marked by an earlier run and no re-run forced: the versions are still
  // checked, the pass is skipped.
  SetCompletionMarker();
  const LoggedRun marked = RunRemediationProbe("handler 1");
  ASSERT_TRUE(marked.child.finished);
  EXPECT_EQ(CountOf(marked.messages, "(isUpgradeRequired)  Getting KVAL version"), 1u);
  EXPECT_EQ(CountOf(marked.messages,
                    "(HandlePerUserKelvoComponents)  <<<  ; Per user components are already "
                    "marked in registry; So, skipping for now..."),
            1u);
  EXPECT_EQ(CountOf(marked.messages, "(UnInstallAllPerUserKelvoComponents)  >>>"), 0u);
}

}  // namespace
