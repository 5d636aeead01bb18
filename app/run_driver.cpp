#include "app/run_driver.h"

#include <exception>

#include "app/run_constants.h"
#include "build_info.h"
#include "logging/primitive_logger.h"
#include "progress/qv_progress_message_box.h"
#include "remediation/per_user_component_handler.h"
#include "remediation/post_run_activities.h"
#include "remediation/remediation_run.h"
#include "remediation/run_recovery.h"
#include "state/config_driven_state.h"
#include "system/dll_search.h"
#include "system/run_lock.h"

namespace {

// Runs `step`; an exception it lets out is logged under "main".
template <typename Step>
void RunLogged(Step step) {
  try {
    step();
  } catch (const std::exception& error) {
    PrimitiveLogger::Log("main", "CPP Exception caught in main:  %s", error.what());
  } catch (...) {
    PrimitiveLogger::Log("main", "Unknown Exception caught in main");
  }
}

// Runs the passes. An exception ends the remaining passes, but what the
// run removed and did not replace is still put back, and the run still
// reaches its final result: a run that says nothing about its outcome
// would leave admins guessing.
//
// A second run in the same session waits for the first (up to a limit): it
// then finds the components as the first left them. One still held up at
// the limit repairs nothing but still reports.
void RunPasses(ConfigDrivenState& state, RemediationRun& run, const RunLock& lock) {
  if (lock.result() == RunLock::Result::TimedOut) {
    PrimitiveLogger::Log("main", "Another run of the helper has not ended after %lu minutes; "
                                 "this run repairs nothing",
                         run_constants::kOtherRunWaitMs / 60000);
  } else {
    // What an earlier run that was stopped half way left is finished first,
    // so that this run judges the components as they were put back.
    RunLogged([] { RecoverUnfinishedRuns(); });
    RunLogged([&] {
      HandlePerUserKelvoComponents(state, run, PerUserCompMode::UnInstall);
      HandlePerUserKelvoComponents(state, run, PerUserCompMode::Install);
    });
    RunLogged([&] { run.RollBackFailedInstalls(); });
  }
  // The result is in the log; the exit code does not depend on it.
  RunLogged([&] { HandlePostRunActivities(state, run); });
}

}  // namespace

int run_driver::main(int argc, char* argv[]) { return Run(argc, argv, WaitLimits()); }

int run_driver::Run(int argc, char* argv[], const WaitLimits& limits) {
  try {
    PrimitiveLogger::Log("main", ">>>");
    LogMeta();
    LogDllSearchLock();
    ConfigDrivenState state = ConfigDrivenState::ParseCLArgs(argc, argv);
    // The completion mark in the registry never skips a pass.
    state.forceReRun = true;
    // No pass runs as LocalSystem or for a program to elevate for.
    if (!state.IsUserLocalSystem && state.elevateForArg.empty()) {
      const RunLock lock =
          RunLock::Acquire(run_constants::kRunMutexName, run_constants::kOtherRunWaitMs);
      // Its staged installers, staging and restore folders go before the
      // logger does, and before the lock: the next run in the session must
      // not meet them half removed.
      RemediationRun run(limits);
      RunPasses(state, run, lock);
    }
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
