// Computes the final result in a process of its own so that the test can
// read the finished log file. Takes the helper's own switches:
//   post_run_probe [-zar: <value>] [-kuhMSIProdCode: <value>]
// Exit code: 10, plus 1 for "Success", plus 2 when kdcUpgradeNeeded is left
// true (it starts true here, so 2 without a version check as well).
#include <windows.h>

#include "logging/primitive_logger.h"
#include "progress/qv_progress_message_box.h"
#include "remediation/post_run_activities.h"
#include "remediation/remediation_run.h"
#include "state/config_driven_state.h"

int main(int argc, char* argv[]) {
  int code = 10;
  {
    ConfigDrivenState state = ConfigDrivenState::ParseCLArgs(argc, argv);
    state.ProgressBox.reset();
    state.kdcUpgradeNeeded = true;
    const RemediationRun run;
    if (HandlePostRunActivities(state, run)) code += 1;
    if (state.kdcUpgradeNeeded) code += 2;
  }
  ShutdownLogger();
  return code;
}
