#include "remediation/install_flows.h"

#include <windows.h>

#include <algorithm>
#include <exception>
#include <iterator>
#include <string>

#include "logging/log_text.h"
#include "logging/primitive_logger.h"
#include "remediation/process_termination.h"
#include "process/win_process.h"
#include "remediation/component_constants.h"
#include "remediation/installer_staging.h"
#include "remediation/remediation_run.h"
#include "remediation/msi_command_line.h"
#include "remediation/msiexec_run.h"
#include "remediation/payload_constants.h"
#include "state/config_driven_state.h"

using namespace component_constants;

namespace {

constexpr char kLauncherTag[] = "InstallKVALForCurrentUser";
constexpr char kSetupClientTag[] = "InstallSetupClientForCurrentUser";

bool IsMsiSuccess(DWORD exitCode) {
  return std::find(std::begin(kMsiSuccessCodes), std::end(kMsiSuccessCodes), exitCode) !=
         std::end(kMsiSuccessCodes);
}

enum class InstallOutcome { Installed, NotInstalled, NotVerified };

// The steps both installs share: the installer the run staged is run from
// the file that was verified, while it is still held, and deleted after its
// run. One that did not verify is never run (it stays for inspection) and
// one that could not be staged, or that has no room to run, is not
// installed; each says why. A standard exception while it runs ends this
// install only, logged under `tag`; an install whose end was not seen is
// not a success, whatever its start. `report` tells the run how it ended.
template <typename Run>
InstallOutcome InstallFromReplacement(const char* tag, const char* component,
                                      const char* validationFailed, Replacement& replacement,
                                      const std::string& roomProblem, InstallReport& report,
                                      Run run) {
  report = InstallReport();
  if (!replacement.ready()) {
    report.why = replacement.why();
    if (replacement.problem() == Replacement::Problem::NotVerified) {
      // Said while the file is still held, as it was when it failed.
      PrimitiveLogger::Log(tag, "%s", validationFailed);
      replacement.Finish();
      return InstallOutcome::NotVerified;
    }
    PrimitiveLogger::Log(tag, "Not installing %s: %s", component, replacement.why().c_str());
    return InstallOutcome::NotInstalled;
  }
  // An installer that runs out of room half way may leave the component it
  // installs over broken (the setup program has no rollback).
  if (!roomProblem.empty()) {
    report.why = roomProblem;
    PrimitiveLogger::Log(tag, "Not installing %s: %s", component, roomProblem.c_str());
    return InstallOutcome::NotInstalled;
  }
  report.attempted = true;
  try {
    report.succeeded = run(replacement.path(), report.why);
  } catch (const std::exception& error) {
    report.succeeded = false;
    report.why = std::string("its installer could not be run (") + error.what() + ")";
    PrimitiveLogger::Log(tag, "Exception occurred: %s", error.what());
  }
  replacement.Finish();
  return report.succeeded ? InstallOutcome::Installed : InstallOutcome::NotInstalled;
}

// Why an installer's run did not count, for the rollback's line.
std::string FailureText(const char* program, bool ran, DWORD exitCode, DWORD waitMs) {
  if (!ran) return std::string(program) + " could not be started";
  if (exitCode == STILL_ACTIVE) {
    return std::string(program) + " did not end within " + std::to_string(waitMs / 1000) + " s";
  }
  return std::string(program) + " exited with code " + std::to_string(exitCode);
}

}  // namespace

bool InstallKVALForCurrentUser(ConfigDrivenState& state, RemediationRun& run) {
  PrimitiveLogger::Log(kLauncherTag, ">>>");
  PrimitiveLogger::Log(kLauncherTag, "Attempting to install KVAL");
  const DWORD waitMs = run.limits().msiexecInstallMs;
  const InstallOutcome outcome = InstallFromReplacement(
      kLauncherTag, kLauncherProductName, "KVAL Validation failed", run.LauncherReplacement(),
      run.RoomProblem(), run.launcherInstall,
      [&state, &run, waitMs](const std::string& path, std::string& why) {
        const std::string commandLine =
            BuildMsiInstallCommandLine(state.msiInteractive, path, payload_constants::kMsiLogName);
        const auto announce = [&state, waitMs] {
          state.SendProgressUpdate(kInstallingLauncherText);
          PrimitiveLogger::Log(kLauncherTag, "msiexec may run for up to %lu seconds",
                               waitMs / 1000);
        };
        DWORD exitCode = STILL_ACTIVE;
        const bool ran =
            RunMsiExec(commandLine, waitMs, run.ProgramsEnvironment(), exitCode, announce);
        if (!ran || !IsMsiSuccess(exitCode)) {
          why = FailureText("msiexec", ran, exitCode, waitMs);
          return false;
        }
        ++state.AppsInstalled;
        AppendUniqueToList(state.AppsInstalledList, kLauncherLabel);
        return true;
      });
  if (outcome == InstallOutcome::NotVerified) return false;

  const bool installed = outcome == InstallOutcome::Installed;
  PrimitiveLogger::Log(kLauncherTag, "<<<  ; Initiated Installation / Upgrade of %s is:  %s",
                       kLauncherLabel, BoolText(installed));
  return installed;
}

bool InstallSetupClientForCurrentUser(ConfigDrivenState& state, RemediationRun& run) {
  PrimitiveLogger::Log(kSetupClientTag, ">>>");
  PrimitiveLogger::Log(kSetupClientTag, "Attempting to install SetupClient");
  const InstallOutcome outcome = InstallFromReplacement(
      kSetupClientTag, kSetupClientProduct, "KSC Validation failed",
      run.SetupClientReplacement(state), run.RoomProblem(), run.setupClientInstall,
      [&state, &run](const std::string& path, std::string& why) {
        state.SendProgressUpdate(kInstallingSetupClientText);
        WinProcess setup(path, kSilentSwitch, run.ProgramsEnvironment());
        DWORD exitCode = STILL_ACTIVE;
        const bool ran = RunToExitCode(setup, kChildWaitMs, exitCode);
        const bool installed = ran && exitCode == kSetupSuccessCode;
        if (!installed) why = FailureText("its setup program", ran, exitCode, kChildWaitMs);
        if (installed) {
          ++state.AppsInstalled;
          AppendUniqueToList(state.AppsInstalledList, kSetupClientProduct);
          PrimitiveLogger::Log(kSetupClientTag, "Installation of %s successful",
                               kSetupClientProduct);
        } else {
          PrimitiveLogger::Log(kSetupClientTag, "Installation of %s - status unknown",
                               kSetupClientProduct);
        }
        // The setup program may have started the client programs.
        TerminateKelvoProcesses(state);
        return installed;
      });
  return outcome == InstallOutcome::Installed;
}
