#include <windows.h>

#include <gtest/gtest.h>

#include <memory>
#include <regex>
#include <string>
#include <vector>

#include "remediation/process_termination.h"
#include "progress/qv_progress_message_box.h"
#include "state/config_driven_state.h"
#include "tests/support/handle_count.h"
#include "tests/support/stand_in_programs.h"
#include "tests/support/test_support.h"

using namespace test_support;

namespace {

std::string Launcher() {
  return StandInPath("KelvoApplicationLauncher-22.7.2.0", "KelvoApplicationLauncher.exe");
}
std::string SetupClient() {
  return StandInPath("KelvoSetupClient-22.7.2.0", "KelvoSetupClient.exe");
}
std::string QuarnelSetupClient() {
  return StandInPath("QuarnelSetupClient-22.7.2.0", "QuarnelSetupClient.exe");
}
std::string MachineWideClient() { return StandInPath("Kelvo-22.7.2.0", "Kelvo.exe"); }
std::string InternetExplorerStandIn() { return StandInPath("iexplore", "iexplore.exe"); }

std::unique_ptr<RunningProgram> Start(const std::string& path) {
  auto program = std::make_unique<RunningProgram>(path);
  EXPECT_TRUE(program->started()) << path << ": error " << program->startError();
  return program;
}

class TerminateKelvoProcessesTest : public ::testing::Test {
 protected:
  TerminateKelvoProcessesTest() : state_("C:\\x\\OrvaneUpgradeHelper.exe") {
    state_.ProgressBox.reset();
  }

  ConfigDrivenState& Scan(uint32_t mask) {
    state_.upgradeRequiredMask = mask;
    TerminateKelvoProcesses(state_);
    return state_;
  }

  ConfigDrivenState state_;
};

}  // namespace

TEST_F(TerminateKelvoProcessesTest, MaskZeroLeavesTheComponentsRunningAndCountsInternetExplorer) {
  const auto launcher = Start(Launcher());
  const auto setupClient = Start(SetupClient());
  const auto browser = Start(InternetExplorerStandIn());
  state_.IEProcessCount = 7;

  const ConfigDrivenState& state = Scan(0);
  EXPECT_TRUE(launcher->IsRunning());
  EXPECT_TRUE(setupClient->IsRunning());
  EXPECT_TRUE(browser->IsRunning());
  EXPECT_EQ(state.IEProcessCount, 1u);
  EXPECT_EQ(state.ProcessesKilled, 0u);
  EXPECT_EQ(state.ProcessesKilledList, "");
}

TEST_F(TerminateKelvoProcessesTest, LauncherMaskStopsOnlyTheLauncher) {
  const auto launcher = Start(Launcher());
  const auto setupClient = Start(SetupClient());
  const auto quarnel = Start(QuarnelSetupClient());

  const ConfigDrivenState& state = Scan(0x200);
  // Gone when the scan returns, not some time later: the uninstaller that
  // follows must not meet it.
  EXPECT_FALSE(launcher->IsRunning());
  EXPECT_TRUE(setupClient->IsRunning());
  EXPECT_TRUE(quarnel->IsRunning());
  EXPECT_EQ(state.ProcessesKilled, 1u);
  EXPECT_EQ(state.ProcessesKilledList, "KelvoApplicationLauncher.exe");
}

TEST_F(TerminateKelvoProcessesTest, SetupClientMaskStopsEveryCopyAndListsEachNameOnce) {
  const auto launcher = Start(Launcher());
  const auto first = Start(SetupClient());
  const auto second = Start(SetupClient());
  const auto quarnel = Start(QuarnelSetupClient());

  const ConfigDrivenState& state = Scan(0x400);
  EXPECT_TRUE(launcher->IsRunning());
  EXPECT_FALSE(first->IsRunning(2000));
  EXPECT_FALSE(second->IsRunning(2000));
  EXPECT_FALSE(quarnel->IsRunning(2000));
  EXPECT_EQ(state.ProcessesKilled, 3u);
  // The scan order decides which name comes first.
  EXPECT_TRUE(state.ProcessesKilledList == "KelvoSetupClient.exe, QuarnelSetupClient.exe" ||
              state.ProcessesKilledList == "QuarnelSetupClient.exe, KelvoSetupClient.exe")
      << state.ProcessesKilledList;
}

TEST_F(TerminateKelvoProcessesTest, BothBitsLeaveTheMachineWideClientAlone) {
  const auto launcher = Start(Launcher());
  const auto setupClient = Start(SetupClient());
  const auto machineWide = Start(MachineWideClient());

  const ConfigDrivenState& state = Scan(0x600);
  EXPECT_FALSE(launcher->IsRunning(2000));
  EXPECT_FALSE(setupClient->IsRunning(2000));
  EXPECT_TRUE(machineWide->IsRunning());
  EXPECT_EQ(state.ProcessesKilled, 2u);
}

TEST_F(TerminateKelvoProcessesTest, NamesMatchWholeAndWithoutRegardToCase) {
  ScopedTempDir temp;
  const std::string capitals = temp.path() + "\\KELVOSETUPCLIENT.EXE";
  const std::string longer = temp.path() + "\\KelvoSetupClient.exe.old";
  const std::string prefixed = temp.path() + "\\OldKelvoSetupClient.exe";
  for (const std::string& copy : {capitals, longer, prefixed}) {
    ASSERT_TRUE(CopyFileA(SetupClient().c_str(), copy.c_str(), FALSE)) << copy;
  }
  const auto capitalsRunning = Start(capitals);
  const auto longerRunning = Start(longer);
  const auto prefixedRunning = Start(prefixed);

  const ConfigDrivenState& state = Scan(0x400);
  EXPECT_FALSE(capitalsRunning->IsRunning(2000));
  EXPECT_TRUE(longerRunning->IsRunning());
  EXPECT_TRUE(prefixedRunning->IsRunning());
  EXPECT_EQ(state.ProcessesKilled, 1u);
  // The name is recorded as the process image names it.
  EXPECT_EQ(state.ProcessesKilledList, "KELVOSETUPCLIENT.EXE");
}

TEST_F(TerminateKelvoProcessesTest, TheLauncherIsMatchedWithoutRegardToCaseAndHandlesAreReleased) {
  ScopedTempDir temp;
  const std::string otherCase = temp.path() + "\\kelvoAPPLICATIONlauncher.EXE";
  ASSERT_TRUE(CopyFileA(Launcher().c_str(), otherCase.c_str(), FALSE)) << otherCase;
  const auto launcher = Start(otherCase);
  const auto setupClient = Start(SetupClient());
  Scan(0);  // a first scan loads what the process keeps for later ones

  const DWORD before = OwnHandleCount();
  ASSERT_GT(before, 0u) << "no handle count";
  const ConfigDrivenState& state = Scan(0x200);
  // Gone when the scan returns, not some time later: the uninstaller that
  // follows must not meet it.
  EXPECT_FALSE(launcher->IsRunning());
  EXPECT_TRUE(setupClient->IsRunning());
  EXPECT_EQ(state.ProcessesKilled, 1u);
  EXPECT_EQ(state.ProcessesKilledList, "kelvoAPPLICATIONlauncher.EXE");
  // A scan that finds nothing to stop must release what it opened as well.
  Scan(0x200);
  EXPECT_EQ(OwnHandleCount(), before);
}

TEST_F(TerminateKelvoProcessesTest, AnElevatedRunStopsInternetExplorer) {
  const auto browser = Start(InternetExplorerStandIn());
  state_.elevateForArg = "x";

  const ConfigDrivenState& state = Scan(0);
  EXPECT_FALSE(browser->IsRunning(2000));
  EXPECT_EQ(state.IEProcessCount, 0u);
  EXPECT_EQ(state.ProcessesKilled, 1u);
  EXPECT_EQ(state.ProcessesKilledList, "iexplore.exe");
}

TEST_F(TerminateKelvoProcessesTest, EachScanRecountsInternetExplorerButKillsAccumulate) {
  const auto browser = Start(InternetExplorerStandIn());
  const auto launcher = Start(Launcher());
  const auto setupClient = Start(SetupClient());

  Scan(0x200);
  EXPECT_EQ(state_.IEProcessCount, 1u);
  const ConfigDrivenState& state = Scan(0x400);
  EXPECT_EQ(state.IEProcessCount, 1u);
  EXPECT_EQ(state.ProcessesKilled, 2u);
  EXPECT_EQ(state.ProcessesKilledList, "KelvoApplicationLauncher.exe, KelvoSetupClient.exe");
  EXPECT_TRUE(browser->IsRunning());
}

TEST(TerminateKelvoProcesses, LogsEachProgramFoundAndEachTermination) {
  const auto launcher = Start(Launcher());
  const auto browser = Start(InternetExplorerStandIn());
  const LoggedRun run = RunProbe("remediation_probe.exe", "terminate 0x200");
  ASSERT_TRUE(run.child.finished);
  EXPECT_EQ(run.child.exitCode, 1u) << run.log;
  EXPECT_FALSE(launcher->IsRunning(2000));

  // Other programs of the prefix come and go while the scan runs (one that
  // is ending logs an empty name), so only the browser's line is counted.
  const auto scan = Messages(run.log, "TerminateKelvoProcesses");
  ASSERT_FALSE(scan.empty());
  EXPECT_EQ(scan[0], ">>>");
  EXPECT_EQ(CountOf(scan, "Found Internet Explorer running:iexplore.exe (" +
                              std::to_string(browser->pid()) + ")"),
            1u);
  // No failed wait between the two lines: the termination waits until the
  // program has ended.
  EXPECT_EQ(Messages(run.log, "TryProcessTermination"),
            (std::vector<std::string>{"Terminating KelvoApplicationLauncher.exe (" +
                                          std::to_string(launcher->pid()) + ")",
                                      "TerminateProcess result: True and exitcode: 0"}));
}

// The scan is shown 3,000 processes (remediation_probe's script): of the
// three real ones, past the first 2,048 ids, only the launcher is this
// session's. The setup clients, one in another session and one whose
// session cannot be read, are never opened.
TEST(TerminateKelvoProcesses, StopsOnlyThisSessionsProgramsInAListLongerThanItsFirstRoom) {
  const auto launcher = Start(Launcher());
  const auto otherSession = Start(SetupClient());
  const auto unreadable = Start(QuarnelSetupClient());
  const LoggedRun run =
      RunProbe("remediation_probe.exe", "terminate-sessions " + std::to_string(launcher->pid()) +
                                            " " + std::to_string(otherSession->pid()) + " " +
                                            std::to_string(unreadable->pid()));
  ASSERT_TRUE(run.child.finished);
  EXPECT_EQ(run.child.exitCode, 1u) << run.log;
  EXPECT_FALSE(launcher->IsRunning());
  EXPECT_TRUE(otherSession->IsRunning());
  EXPECT_TRUE(unreadable->IsRunning());

  const auto probe = Messages(run.log, "probe");
  ASSERT_EQ(probe.size(), 4u) << run.log;
  EXPECT_EQ(probe[0], "listed into 8192 bytes");
  EXPECT_EQ(probe[1], "listed into 16384 bytes");
  // The 1,000 fillers of this session (which cannot be opened) and the
  // launcher.
  EXPECT_EQ(probe[2], "opened 1001 processes of this session, 0 of others");
  const std::string handles = probe[3];
  std::smatch counts;
  ASSERT_TRUE(std::regex_match(handles, counts, std::regex(R"(handles before (\d+) after (\d+))")))
      << handles;
  EXPECT_NE(counts[1].str(), "0") << "no handle count";
  EXPECT_EQ(counts[1].str(), counts[2].str());

  EXPECT_EQ(Messages(run.log, "TerminateKelvoProcesses"),
            (std::vector<std::string>{
                ">>>", "Skipped 1001 process(es) of other sessions; this process runs in session 3",
                "Skipped 996 process(es) whose session cannot be read; Error:  5",
                "Skipped 1 process(es) whose session cannot be read; Error:  87"}));
  EXPECT_EQ(Messages(run.log, "TryProcessTermination"),
            (std::vector<std::string>{"Terminating KelvoApplicationLauncher.exe (" +
                                          std::to_string(launcher->pid()) + ")",
                                      "TerminateProcess result: True and exitcode: 0"}));
}

TEST(TerminateKelvoProcesses, AListThatFillsEveryRoomIsReadUpToTheCeilingAndSaysSo) {
  const LoggedRun run = RunProbe("remediation_probe.exe", "terminate-ceiling");
  ASSERT_TRUE(run.child.finished);
  EXPECT_EQ(run.child.exitCode, 0u) << run.log;

  std::vector<std::string> expected;
  for (DWORD room = 8192; room <= 4u * 1048576u; room *= 2) {
    expected.push_back("listed into " + std::to_string(room) + " bytes");
  }
  expected.push_back("opened 0 processes of this session, 0 of others");
  EXPECT_EQ(Messages(run.log, "probe"), expected);
  EXPECT_EQ(
      Messages(run.log, "TerminateKelvoProcesses"),
      (std::vector<std::string>{
          ">>>",
          "The process list filled its ceiling of 1048576 ids; processes beyond it are not seen",
          "Skipped 1048576 process(es) of other sessions; this process runs in session 3"}));
}
