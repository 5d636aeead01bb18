#include "app/run_driver.h"

#include <exception>

#include "build_info.h"
#include "logging/primitive_logger.h"
#include "progress/qv_progress_message_box.h"
#include "remediation/per_user_component_handler.h"
#include "remediation/post_run_activities.h"
#include "state/config_driven_state.h"

namespace {

// Runs the passes unless the process is LocalSystem or was started to
// elevate for another program. An exception ends the remaining passes only.
void RunPasses(ConfigDrivenState& state) {
  if (state.IsUserLocalSystem || !state.elevateForArg.empty()) return;
  try {
    HandlePerUserKelvoComponents(state, PerUserCompMode::UnInstall);
    HandlePerUserKelvoComponents(state, PerUserCompMode::Install);
    // The result is in the log; the exit code does not depend on it.
    HandlePostRunActivities(state);
  } catch (const std::exception& error) {
    PrimitiveLogger::Log("main", "CPP Exception caught in main:  %s", error.what());
  } catch (...) {
    PrimitiveLogger::Log("main", "Unknown Exception caught in main");
  }
}

}  // namespace

int run_driver::main(int argc, char* argv[]) {
  try {
    PrimitiveLogger::Log("main", ">>>");
    LogMeta();
    ConfigDrivenState state = ConfigDrivenState::ParseCLArgs(argc, argv);
    // The completion mark in the registry never skips a pass.
    state.forceReRun = true;
    RunPasses(state);
    DeInitApp(state);
  } catch (const std::exception& error) {
    PrimitiveLogger::Log("main", "CPP Exception caught in main:  %s", error.what());
  } catch (...) {
    PrimitiveLogger::Log("main", "Unknown Exception caught in main");
  }
  return 0;
}

void LogMeta() {
  PrimitiveLogger::Log("LogMeta", ">>>  LogMeta");
  PrimitiveLogger::Log("LogMeta", "BUILDNO:      %s", REMEDION_BUILD_NUMBER);
  PrimitiveLogger::Log("LogMeta", "BUILDTS:      %s", REMEDION_BUILD_TS);
  PrimitiveLogger::Log("LogMeta", "DEVIATION:    %s", REMEDION_BRANCH_B64);
  PrimitiveLogger::Log("LogMeta", "REVISION:     %s", REMEDION_REVISION_B64);
  PrimitiveLogger::Log("LogMeta", "BUILDCONFIG:  %s", REMEDION_BUILD_CONFIG);
  PrimitiveLogger::Log("LogMeta", "<<<  LogMeta");
}

void DeInitApp(ConfigDrivenState& state) {
  try {
    state.DumpToLog();
    state.ProgressBox.reset();
  } catch (const std::exception& error) {
    PrimitiveLogger::Log("DeInitApp", "CPP Exception caught in DeInitApp:  %s", error.what());
  } catch (...) {
    PrimitiveLogger::Log("DeInitApp", "Unknown Exception caught in DeInitApp");
  }
  // The progress thread logs until it is joined, so the box goes before the
  // logger also when the dump failed. Its destruction never throws.
  state.ProgressBox.reset();
  ShutdownLogger();
}
