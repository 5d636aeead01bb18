// Runs one remediation step in a process of its own so that the test can read
// the finished log file. Switches after the step's words go to the run state.
//   remediation_probe remove-launcher [switches]     exit code: 1 when removed
//   remediation_probe uninstall-pass <mask> [switches]
//   remediation_probe handler <mode> [switches]
//   remediation_probe terminate <mask>               exit code: the terminations
//   remediation_probe marker-read                    exit code: 10 marked, 11 not
//   remediation_probe marker-write
#include <windows.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "logging/primitive_logger.h"
#include "progress/qv_progress_message_box.h"
#include "remediation/per_user_component_handler.h"
#include "remediation/process_termination.h"
#include "remediation/remediation_run.h"
#include "remediation/product_store.h"
#include "remediation/uninstall_flows.h"
#include "state/config_driven_state.h"

namespace {

// The run state parsed from the switches that follow the first `skip`
// arguments.
ConfigDrivenState StateFrom(int argc, char* argv[], int skip) {
  std::vector<char*> args = {argv[0]};
  for (int index = skip; index < argc; ++index) args.push_back(argv[index]);
  return ConfigDrivenState::ParseCLArgs(static_cast<int>(args.size()), args.data());
}

int Run(const std::string& step, int argc, char* argv[]) {
  int result = 0;
  {
    if (step == "remove-launcher") {
      ConfigDrivenState state = StateFrom(argc, argv, 2);
      result = UninstallProductByUpgradeCode(state) ? 1 : 0;
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
