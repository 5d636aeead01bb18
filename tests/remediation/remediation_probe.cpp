// Runs one remediation step in a process of its own so that the test can read
// the finished log file. Switches after the step's words go to the run state.
//   remediation_probe remove-launcher [switches]     exit code: 1 when removed
//   remediation_probe uninstall-pass <mask> [switches]
//   remediation_probe handler <mode> [switches]
//   remediation_probe terminate <mask>               exit code: the terminations
//   remediation_probe terminate-sessions <launcher pid> <other session pid> <unreadable pid>
//   remediation_probe terminate-ceiling              both: exit code the terminations
//   remediation_probe marker-read                    exit code: 10 marked, 11 not
//   remediation_probe marker-write
#include <windows.h>

#include <cstdlib>
#include <string>
#include <vector>

#include <psapi.h>

#include "logging/primitive_logger.h"
#include "progress/qv_progress_message_box.h"
#include "remediation/per_user_component_handler.h"
#include "remediation/process_termination.h"
#include "remediation/remediation_run.h"
#include "remediation/product_store.h"
#include "remediation/uninstall_flows.h"
#include "state/config_driven_state.h"
#include "tests/remediation/scripted_process_source.h"
#include "tests/support/handle_count.h"

namespace {

// The run state parsed from the switches that follow the first `skip`
// arguments.
ConfigDrivenState StateFrom(int argc, char* argv[], int skip) {
  std::vector<char*> args = {argv[0]};
  for (int index = skip; index < argc; ++index) args.push_back(argv[index]);
  return ConfigDrivenState::ParseCLArgs(static_cast<int>(args.size()), args.data());
}

// The scripted scans' sessions: this process runs in session 3, others in 4.
constexpr DWORD kOwnSession = 3;
constexpr DWORD kOtherSession = 4;

void LogWhatWasAsked(const ScriptedProcessSource& source) {
  for (const DWORD room : source.listRooms) {
    PrimitiveLogger::Log("probe", "listed into %lu bytes", room);
  }
  PrimitiveLogger::Log("probe", "opened %lu processes of this session, %lu of others",
                       source.openedOwnSession, source.openedOthers);
}

// A scan, setup client and launcher to be replaced, over 3,000 processes of
// which only the last three are real: the launcher in this session, a setup
// client in another and a Quarnel setup client whose session cannot be
// read.
int TerminateInSessions(ConfigDrivenState& state, DWORD launcher, DWORD otherSession,
                        DWORD unreadable) {
  using Process = ScriptedProcessSource::Process;
  std::vector<Process> processes = {{0, 0, ERROR_SUCCESS, false}};  // the idle process
  DWORD filler = 0x40000000;
  for (int i = 0; i < 1000; ++i) processes.push_back({filler += 4, kOtherSession, 0, false});
  // Ended before they could be opened.
  for (int i = 0; i < 1000; ++i) processes.push_back({filler += 4, kOwnSession, 0, false});
  // Other users', seen by an unelevated run.
  for (int i = 0; i < 995; ++i) processes.push_back({filler += 4, 0, ERROR_ACCESS_DENIED, false});
  // Ended before its session was read.
  processes.push_back({filler += 4, 0, ERROR_INVALID_PARAMETER, false});
  processes.push_back({launcher, kOwnSession, 0, true});
  processes.push_back({otherSession, kOtherSession, 0, true});
  processes.push_back({unreadable, 0, ERROR_ACCESS_DENIED, true});
  ScriptedProcessSource source(kOwnSession, std::move(processes));

  // What a scan opens and reads once, before the count: a process and its
  // image name.
  {
    UniqueHandle self(OpenProcess(PROCESS_QUERY_INFORMATION, FALSE, GetCurrentProcessId()));
    char image[MAX_PATH] = {};
    K32GetProcessImageFileNameA(self.get(), image, MAX_PATH);
  }
  const DWORD handlesBefore = test_support::OwnHandleCount();
  state.upgradeRequiredMask = 0x600;
  TerminateKelvoProcesses(state, source);
  const DWORD handlesAfter = test_support::OwnHandleCount();
  LogWhatWasAsked(source);
  PrimitiveLogger::Log("probe", "handles before %lu after %lu", handlesBefore, handlesAfter);
  return static_cast<int>(state.ProcessesKilled);
}

// A scan over a machine whose process list fills any room, in another
// session.
int TerminateAtCeiling(ConfigDrivenState& state) {
  ScriptedProcessSource source(kOwnSession, {{0x40000000, kOtherSession, 0, false}}, true);
  state.upgradeRequiredMask = 0x600;
  TerminateKelvoProcesses(state, source);
  LogWhatWasAsked(source);
  return static_cast<int>(state.ProcessesKilled);
}

int Run(const std::string& step, int argc, char* argv[]) {
  int result = 0;
  {
    if (step == "remove-launcher") {
      ConfigDrivenState state = StateFrom(argc, argv, 2);
      RemediationRun run;
      result = UninstallProductByUpgradeCode(state, run) ? 1 : 0;
    } else if (step == "uninstall-pass" && argc > 2) {
      ConfigDrivenState state = StateFrom(argc, argv, 3);
      state.upgradeRequiredMask = static_cast<uint32_t>(std::strtoul(argv[2], nullptr, 0));
      RemediationRun run;
      UnInstallAllPerUserKelvoComponents(state, run);
    } else if (step == "marker-read") {
      result = IsPerUserCompStatusMarkedInRegistry() ? 10 : 11;
    } else if (step == "marker-write") {
      MarkPerUserCompStatusInRegistry();
    } else if (step == "terminate" && argc > 2) {
      ConfigDrivenState state = StateFrom(argc, argv, 3);
      state.ProgressBox.reset();
      state.upgradeRequiredMask = static_cast<uint32_t>(std::strtoul(argv[2], nullptr, 0));
      TerminateKelvoProcesses(state);
      result = static_cast<int>(state.ProcessesKilled);
    } else if (step == "terminate-sessions" && argc > 4) {
      ConfigDrivenState state = StateFrom(argc, argv, 5);
      state.ProgressBox.reset();
      result = TerminateInSessions(state, std::strtoul(argv[2], nullptr, 10),
                                   std::strtoul(argv[3], nullptr, 10),
                                   std::strtoul(argv[4], nullptr, 10));
    } else if (step == "terminate-ceiling") {
      ConfigDrivenState state = StateFrom(argc, argv, 2);
      state.ProgressBox.reset();
      result = TerminateAtCeiling(state);
    } else if (step == "handler" && argc > 2) {
      ConfigDrivenState state = StateFrom(argc, argv, 3);
      RemediationRun run;
      HandlePerUserKelvoComponents(state, run, static_cast<PerUserCompMode>(std::atoi(argv[2])));
    } else {
      result = 100;
    }
  }  // the progress window closes with the state, before the log does
  ShutdownLogger();
  return result;
}

}  // namespace

int main(int argc, char* argv[]) { return Run(argc > 1 ? argv[1] : "", argc, argv); }
