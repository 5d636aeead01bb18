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
// installed; each says why. A standard
// exception while it runs ends this install only, logged under `tag`; an
// install whose end was not seen is not a success, whatever its start.
template <typename Run>
InstallOutcome InstallFromReplacement(const char* tag, const char* component,
                                      const char* validationFailed, Replacement& replacement,
                                      const std::string& roomProblem, Run run) {
  if (!replacement.ready()) {
    if (replacement.problem() == Replacement::Problem::NotVerified) {
      // Said while the file is still held, as it was when it failed.
      PrimitiveLogger::Log(tag, "%s", validationFailed);
      replacement.Release();
      return InstallOutcome::NotVerified;
    }
    PrimitiveLogger::Log(tag, "Not installing %s: %s", component, replacement.why().c_str());
    return InstallOutcome::NotInstalled;
  }
  // An installer that runs out of room half way may leave the component it
  // installs over broken (the setup program has no rollback).
  if (!roomProblem.empty()) {
    PrimitiveLogger::Log(tag, "Not installing %s: %s", component, roomProblem.c_str());
    return InstallOutcome::NotInstalled;
  }
  bool installed = false;
  try {
    installed = run(replacement.path());
  } catch (const std::exception& error) {
    installed = false;
    PrimitiveLogger::Log(tag, "Exception occurred: %s", error.what());
  }
  replacement.Release();
  return installed ? InstallOutcome::Installed : InstallOutcome::NotInstalled;
}

}  // namespace

bool InstallKVALForCurrentUser(ConfigDrivenState& state, RemediationRun& run) {
  PrimitiveLogger::Log(kLauncherTag, ">>>");
  PrimitiveLogger::Log(kLauncherTag, "Attempting to install KVAL");
  const DWORD waitMs = run.limits().msiexecInstallMs;
  const InstallOutcome outcome = InstallFromReplacement(
      kLauncherTag, kLauncherProductName, "KVAL Validation failed", run.LauncherReplacement(),
      run.RoomProblem(), [&state, waitMs](const std::string& path) {
        const std::string commandLine =
            BuildMsiInstallCommandLine(state.msiInteractive, path, payload_constants::kMsiLogName);
        const auto announce = [&state, waitMs] {
          state.SendProgressUpdate(kInstallingLauncherText);
          PrimitiveLogger::Log(kLauncherTag, "msiexec may run for up to %lu seconds",
                               waitMs / 1000);
        };
        DWORD exitCode = STILL_ACTIVE;
        if (!RunMsiExec(commandLine, waitMs, exitCode, announce) || !IsMsiSuccess(exitCode)) {
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
      run.SetupClientReplacement(state), run.RoomProblem(), [&state](const std::string& path) {
        state.SendProgressUpdate(kInstallingSetupClientText);
        WinProcess setup(path, kSilentSwitch);
        DWORD exitCode = STILL_ACTIVE;
        const bool installed =
            RunToExitCode(setup, kChildWaitMs, exitCode) && exitCode == kSetupSuccessCode;
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
