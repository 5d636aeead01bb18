// Runs a version check in a process of its own so that the test can read the
// finished log file.
//   version_probe compare <client text>   exit code: compareVersion + 1
//   version_probe upgrade                 exit code: the mask after two runs
#include <windows.h>

#include <string>

#include "logging/primitive_logger.h"
#include "remediation/version_checks.h"
#include "state/config_driven_state.h"

namespace {

int Compare(const char* clientVersion) {
  const int result = compareVersion(clientVersion);
  ShutdownLogger();
  return result + 1;
}

// Two runs, as a second pass would make them: the progress window must
// still start only once.
int Upgrade(char* program) {
  int mask = 0;
  {
    char* argv[] = {program, nullptr};
    ConfigDrivenState state = ConfigDrivenState::ParseCLArgs(1, argv);
    isUpgradeRequired(state);
    isUpgradeRequired(state);
    mask = static_cast<int>(state.upgradeRequiredMask);
  }  // the progress window closes with the state, before the log does
  ShutdownLogger();
  return mask;
}

}  // namespace

int main(int argc, char* argv[]) {
  const std::string mode = argc > 1 ? argv[1] : "";
  if (mode == "compare" && argc > 2) return Compare(argv[2]);
  if (mode == "upgrade") return Upgrade(argv[0]);
  return 100;
}
