#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "progress/qv_progress_message_box.h"
#include "remediation/version_checks.h"
#include "state/config_driven_state.h"
#include "tests/support/stalled_progress_dialog.h"
#include "tests/support/stand_in_programs.h"
#include "tests/support/test_support.h"

using namespace test_support;

namespace {

constexpr char kLauncherExe[] = "KelvoApplicationLauncher.exe";
constexpr char kSetupClientExe[] = "KelvoSetupClient.exe";

LoggedRun RunVersionProbe(const std::string& arguments) {
  return RunProbe("version_probe.exe", arguments);
}

// A roaming application-data folder of its own, with the components copied
// in from the stand-in builds of the versions asked for ("" for absent).
class ComponentsFolder {
 public:
  ComponentsFolder(const std::string& launcherVersion, const std::string& setupClientVersion)
      : appData_("APPDATA", temp_.path().c_str()) {
    if (!launcherVersion.empty()) {
      Install("KVAL", StandInPath("KelvoApplicationLauncher-" + launcherVersion, kLauncherExe),
              kLauncherExe);
    }
    if (!setupClientVersion.empty()) {
      Install("Setup Client",
              StandInPath("KelvoSetupClient-" + setupClientVersion, kSetupClientExe),
              kSetupClientExe);
    }
  }

  std::string Path(const std::string& relative) const {
    return temp_.path() + "\\Tessaly\\" + relative;
  }

  void Install(const std::string& folder, const std::string& source, const std::string& name) {
    std::filesystem::create_directories(FsPath(Path(folder)));
    ASSERT_TRUE(CopyFileA(source.c_str(), Path(folder + "\\" + name).c_str(), FALSE)) << source;
  }

 private:
  ScopedTempDir temp_;
  ScopedEnvVar appData_;
};

uint32_t MaskFor(ConfigDrivenState& state) {
  state.ProgressBox.reset();           // the window is looked at by its own test
  state.upgradeRequiredMask = 0xFFFF;  // must be cleared, not or-ed into
  EXPECT_TRUE(isUpgradeRequired(state));
  return state.upgradeRequiredMask;
}

}  // namespace

TEST(CompareVersion, ComparesFieldsAsNumbersAndDemandsTheSameFieldCount) {
  EXPECT_EQ(compareVersion("22.7.2"), 0);
  EXPECT_EQ(compareVersion("22.7.3"), 1);
  EXPECT_EQ(compareVersion("22.10.0"), 1);  // 10 > 7 as numbers, not as text
  EXPECT_EQ(compareVersion("23.0.0"), 1);
  EXPECT_EQ(compareVersion("22.7.1"), -1);
  EXPECT_EQ(compareVersion("21.12.9"), -1);
  EXPECT_EQ(compareVersion("22.7"), -1);
  EXPECT_EQ(compareVersion("22.7.2.0"), -1);
  EXPECT_EQ(compareVersion(""), -1);
}

TEST(CompareVersion, LogsEachFieldAndTheDecision) {
  const LoggedRun newer = RunVersionProbe("compare 22.7.3");
  ASSERT_TRUE(newer.child.finished);
  EXPECT_EQ(newer.child.exitCode, 2u);  // 1
  EXPECT_EQ(Messages(newer.log, "compareVersion"),
            (std::vector<std::string>{
                R"(ClientVersion: "22.7.3" ServerVersion: "22.7.2")",
                R"(ClientVersion: "22.7.3" ServerVersion: "22.7.2")", "Client: 22 Server: 22",
                R"(ClientVersion: "7.3" ServerVersion: "7.2")", "Client: 7 Server: 7",
                R"(ClientVersion: "3" ServerVersion: "2")", "Client: 3 Server: 2",
                "ClientVersion is greater, return 1"}));

  const LoggedRun same = RunVersionProbe("compare 22.7.2");
  EXPECT_EQ(same.child.exitCode, 1u);  // 0
  const auto sameMessages = Messages(same.log, "compareVersion");
  ASSERT_FALSE(sameMessages.empty());
  EXPECT_EQ(sameMessages.back(), "Versions are identical");

  const LoggedRun older = RunVersionProbe("compare 21.12.9");
  EXPECT_EQ(older.child.exitCode, 0u);  // -1
  const auto olderMessages = Messages(older.log, "compareVersion");
  EXPECT_EQ(CountOf(olderMessages, "Client: 21 Server: 22"), 1u);
  ASSERT_FALSE(olderMessages.empty());
  EXPECT_EQ(olderMessages.back(), "ClientVersion is smaller, return -1");

  for (const char* shorterOrLonger : {"22.7", "22.7.2.0"}) {
    const LoggedRun mismatch = RunVersionProbe(std::string("compare ") + shorterOrLonger);
    EXPECT_EQ(mismatch.child.exitCode, 0u) << shorterOrLonger;
    const auto messages = Messages(mismatch.log, "compareVersion");
    ASSERT_FALSE(messages.empty());
    EXPECT_EQ(messages.back(), "ERROR: Client/Server version mismatch, return -1");
  }

  const LoggedRun empty = RunVersionProbe("compare \"\"");
  EXPECT_EQ(empty.child.exitCode, 0u);
  EXPECT_EQ(Messages(empty.log, "compareVersion"),
            (std::vector<std::string>{R"(ClientVersion: "" ServerVersion: "22.7.2")",
                                      "ClientVersion is empty, need upgrade"}));
}

TEST(GetFileVersion, ReadsProductMajorWithFileMinorAndBuild) {
  char version[16] = {};
  uint32_t size = sizeof(version);
  // Product version 22.0.0.0, file version 21.7.2.5.
  EXPECT_EQ(
      getFileVersion(StandInPath("KelvoApplicationLauncher-22.0-21.7.2.5", kLauncherExe).c_str(),
                     version, size),
      0u);
  EXPECT_STREQ(version, "22.7.2");

  std::memset(version, 0, sizeof(version));
  EXPECT_EQ(getFileVersion(StandInPath("KelvoSetupClient-22.7.3.0", kSetupClientExe).c_str(),
                           version, size),
            0u);
  EXPECT_STREQ(version, "22.7.3");
}

TEST(GetFileVersion, ReportsMissingFilesBrokenProgramsAndTooSmallBuffers) {
  char version[16] = {};
  uint32_t size = sizeof(version);
  EXPECT_EQ(getFileVersion("C:\\no\\such\\folder\\x.exe", version, size), 2u);
  const std::string launcher = StandInPath("KelvoApplicationLauncher-22.7.2.0", kLauncherExe);

  ScopedTempDir temp;
  const std::string text = temp.path() + "\\plain.exe";
  ASSERT_TRUE(WriteFileBytes(text, "not a program"));
  EXPECT_EQ(getFileVersion(text.c_str(), version, size), 3u);

  // "22.7.2" needs 7 bytes: a 6-byte buffer gets nothing, and no byte past
  // it is touched.
  char guarded[16];
  std::memset(guarded, '#', sizeof(guarded));
  const uint32_t small = 6;
  EXPECT_EQ(getFileVersion(launcher.c_str(), guarded, small), 1u);
  for (char c : guarded) EXPECT_EQ(c, '#');
  const uint32_t exact = 7;
  EXPECT_EQ(getFileVersion(launcher.c_str(), guarded, exact), 0u);
  EXPECT_STREQ(guarded, "22.7.2");
}

TEST(IsUpgradeRequired, SetsTheBitOfEachMissingOrOlderComponent) {
  char program[] = "C:\\x\\OrvaneUpgradeHelper.exe";
  char* argv[] = {program, nullptr};
  ConfigDrivenState state = ConfigDrivenState::ParseCLArgs(1, argv);

  {
    ComponentsFolder both("22.7.3.0", "22.7.2.0");
    EXPECT_EQ(MaskFor(state), 0u);
  }
  {
    ComponentsFolder olderLauncher("22.7.1.0", "22.7.3.0");
    EXPECT_EQ(MaskFor(state), 0x200u);
  }
  {
    ComponentsFolder olderSetupClient("22.7.2.0", "22.7.1.0");
    EXPECT_EQ(MaskFor(state), 0x400u);
  }
  {
    ComponentsFolder launcherMissing("", "22.7.2.0");
    EXPECT_EQ(MaskFor(state), 0x200u);
  }
  {
    ComponentsFolder bothMissing("", "");
    EXPECT_EQ(MaskFor(state), 0x600u);
  }
  {
    // The product-22 file with file version 21.7.2.5 counts as current.
    ComponentsFolder mixed("", "22.7.2.0");
    mixed.Install("KVAL", StandInPath("KelvoApplicationLauncher-22.0-21.7.2.5", kLauncherExe),
                  kLauncherExe);
    EXPECT_EQ(MaskFor(state), 0u);
  }
  {
    // An executable that is empty, truncated or no program at all is a
    // broken installation: reinstalled, like a missing one.
    ComponentsFolder broken("", "22.7.2.0");
    std::filesystem::create_directories(FsPath(broken.Path("KVAL")));
    const std::string launcher = broken.Path("KVAL\\KelvoApplicationLauncher.exe");
    const std::string program =
        ReadFileBytes(StandInPath("KelvoApplicationLauncher-22.7.2.0", kLauncherExe)).value_or("");
    ASSERT_GT(program.size(), 1024u);
    for (const std::string& bytes : {std::string(), program.substr(0, 1024), std::string("text")}) {
      ASSERT_TRUE(WriteFileBytes(launcher, bytes));
      ComponentReadings readings;
      EXPECT_TRUE(isUpgradeRequired(state, readings));
      EXPECT_EQ(state.upgradeRequiredMask, 0x200u) << bytes.size();
      EXPECT_EQ(readings.launcher.state, VersionState::Broken) << bytes.size();
      EXPECT_EQ(readings.setupClient.state, VersionState::Current);
    }
    // One that cannot be read (held by another program) is left alone.
    HANDLE held = CreateFileA(launcher.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    ComponentReadings readings;
    EXPECT_TRUE(isUpgradeRequired(state, readings));
    CloseHandle(held);
    EXPECT_EQ(state.upgradeRequiredMask, 0u);
    EXPECT_EQ(readings.launcher.state, VersionState::Unreadable);
  }
}

TEST(IsUpgradeRequired, AFolderThatDoesNotFitThePathBufferIsAFailedExpansion) {
  char program[] = "C:\\x\\OrvaneUpgradeHelper.exe";
  char* argv[] = {program, nullptr};
  ConfigDrivenState state = ConfigDrivenState::ParseCLArgs(1, argv);
  state.ProgressBox.reset();
  const std::string longFolder = "C:\\" + std::string(250, 'a');
  ScopedEnvVar appData("APPDATA", longFolder.c_str());
  state.upgradeRequiredMask = 0x600;
  EXPECT_FALSE(isUpgradeRequired(state));
  EXPECT_EQ(state.upgradeRequiredMask, 0u);
}

// The run's progress window is shown by the first check that finds work,
// once however often the check runs; a later run's box is shown again (the
// "once" is the run's own, not the process's).
TEST(IsUpgradeRequired, StartsTheRunsProgressWindowOnce) {
  // Dialogs that show nothing stand in for the shell's in this process; the
  // class object outlives every dialog it makes.
  ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
  static StalledProgressDialogClass dialogs(DialogStall::None);
  ASSERT_TRUE(dialogs.Register());
  char program[] = "C:\\x\\OrvaneUpgradeHelper.exe";
  char* argv[] = {program, nullptr};
  ComponentsFolder launcherMissing("", "22.7.2.0");
  for (const LONG startsAfterRun : {1, 2}) {
    ConfigDrivenState state = ConfigDrivenState::ParseCLArgs(1, argv);
    ASSERT_TRUE(state.ProgressBox);
    EXPECT_TRUE(isUpgradeRequired(state));
    EXPECT_TRUE(isUpgradeRequired(state));
    EXPECT_EQ(state.upgradeRequiredMask, 0x200u);
    EXPECT_EQ(dialogs.starts(), startsAfterRun);
  }
  {
    // Nothing to do: no window.
    ComponentsFolder current("22.7.3.0", "22.7.2.0");
    ConfigDrivenState state = ConfigDrivenState::ParseCLArgs(1, argv);
    EXPECT_TRUE(isUpgradeRequired(state));
    EXPECT_EQ(dialogs.starts(), 2);
  }
  EXPECT_EQ(dialogs.liveDialogs(), 0);
  CoUninitialize();
}

TEST(IsUpgradeRequired, LogsEachComponentsReading) {
  {
    ComponentsFolder bothMissing("", "");
    const LoggedRun run = RunVersionProbe("upgrade");
    ASSERT_TRUE(run.child.finished);
    EXPECT_EQ(run.child.exitCode, 0x600u);
    const auto messages = Messages(run.log, "isUpgradeRequired");
    EXPECT_EQ(CountOf(messages, "Getting KVAL version"), 2u);
    EXPECT_EQ(CountOf(messages, "Failed to get KVAL version, Error: 2"), 2u);
    EXPECT_EQ(CountOf(messages, "Getting Kelvo Setup Client version"), 2u);
    EXPECT_EQ(CountOf(messages, "Failed to get KSC version, Error: 2"), 2u);
    const std::string missing =
        "File '" + bothMissing.Path("KVAL\\KelvoApplicationLauncher.exe") + "' does not exists";
    EXPECT_EQ(CountOf(Messages(run.log, "getFileVersion"), missing), 2u);
    EXPECT_EQ(CountOf(Messages(run.log, "QVProgressMessageBox::start::<lambda()>"),
                      "Progress window started"),
              1u);
  }
  {
    ComponentsFolder launcherMissing("", "22.7.2.0");
    const LoggedRun run = RunVersionProbe("upgrade");
    EXPECT_EQ(run.child.exitCode, 0x200u);
    const auto messages = Messages(run.log, "isUpgradeRequired");
    EXPECT_EQ(CountOf(messages, "KSC Upgrade NOT Required"), 2u);
  }
  {
    ComponentsFolder current("22.7.3.0", "22.7.2.0");
    const LoggedRun run = RunVersionProbe("upgrade");
    EXPECT_EQ(run.child.exitCode, 0u);
    const auto messages = Messages(run.log, "isUpgradeRequired");
    EXPECT_EQ(CountOf(messages, "KVAL Upgrade NOT Required"), 2u);
    EXPECT_EQ(CountOf(messages, "KSC Upgrade NOT Required"), 2u);
    EXPECT_EQ(run.log.find("Progress window started"), std::string::npos);
  }
  {
    ComponentsFolder olderLauncher("22.7.1.0", "22.7.2.0");
    const LoggedRun run = RunVersionProbe("upgrade");
    EXPECT_EQ(run.child.exitCode, 0x200u);
    EXPECT_EQ(CountOf(Messages(run.log, "isUpgradeRequired"), "KVAL Upgrade is Required"), 2u);
  }
}
