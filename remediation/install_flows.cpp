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
#include "remediation/msi_command_line.h"
#include "remediation/msiexec_run.h"
#include "remediation/payload_constants.h"
#include "state/config_driven_state.h"
#include "system/file_sys_utils.h"

using namespace component_constants;

namespace {

constexpr char kLauncherTag[] = "InstallKVALForCurrentUser";
constexpr char kSetupClientTag[] = "InstallSetupClientForCurrentUser";

bool IsMsiSuccess(DWORD exitCode) {
  return std::find(std::begin(kMsiSuccessCodes), std::end(kMsiSuccessCodes), exitCode) !=
         std::end(kMsiSuccessCodes);
}

}  // namespace

bool InstallKVALForCurrentUser(ConfigDrivenState& state) {
  PrimitiveLogger::Log(kLauncherTag, ">>>");
  PrimitiveLogger::Log(kLauncherTag, "Attempting to install KVAL");

  std::string path;
  bool installed = false;
  // Everything from naming the temporary file on is guarded: a failure to
  // make the name ends this install only, not the pass.
  try {
    path = GetLauncherMsiTempPath();
    // Held until the installer has finished.
    const std::optional<QVFileLock> lock = StageInstaller(LauncherPayload(), path);
    if (!lock) {
      PrimitiveLogger::Log(kLauncherTag, "KVAL Validation failed");
      return false;
    }
    state.SendProgressUpdate(kInstallingLauncherText);
    DWORD exitCode = STILL_ACTIVE;
    if (RunMsiExec(
            BuildMsiInstallCommandLine(state.msiInteractive, path, payload_constants::kMsiLogName),
            INFINITE, exitCode) &&
        IsMsiSuccess(exitCode)) {
      ++state.AppsInstalled;
      AppendUniqueToList(state.AppsInstalledList, kLauncherLabel);
      installed = true;
    }
  } catch (const std::exception& error) {
    // An install whose end was not seen is not a success, whatever its start.
    installed = false;
    PrimitiveLogger::Log(kLauncherTag, "Exception occurred: %s", error.what());
  }

  CleanUpFile(path);
  PrimitiveLogger::Log(kLauncherTag, "<<<  ; Initiated Installation / Upgrade of %s is:  %s",
                       kLauncherLabel, BoolText(installed));
  return installed;
}

bool InstallSetupClientForCurrentUser(ConfigDrivenState& state) {
  PrimitiveLogger::Log(kSetupClientTag, ">>>");
  PrimitiveLogger::Log(kSetupClientTag, "Attempting to install SetupClient");

  std::string path;
  bool installed = false;
  // Guarded from naming the temporary file and probing for the machine-wide
  // client on: their failures end this install, and the launcher's still
  // follows.
  try {
    path = SetupClientTempPath();
    // Held until the setup program has finished.
    const std::optional<QVFileLock> lock = StageInstaller(SetupClientPayload(state), path);
    if (!lock) {
      PrimitiveLogger::Log(kSetupClientTag, "KSC Validation failed");
      return false;
    }
    state.SendProgressUpdate(kInstallingSetupClientText);
    WinProcess setup(path, kSilentSwitch);
    DWORD exitCode = STILL_ACTIVE;
    if (RunToExitCode(setup, kChildWaitMs, exitCode) && exitCode == kSetupSuccessCode) {
      ++state.AppsInstalled;
      AppendUniqueToList(state.AppsInstalledList, kSetupClientProduct);
      installed = true;
      PrimitiveLogger::Log(kSetupClientTag, "Installation of %s successful", kSetupClientProduct);
    } else {
      PrimitiveLogger::Log(kSetupClientTag, "Installation of %s - status unknown",
                           kSetupClientProduct);
    }
    // The setup program may have started the client programs.
    TerminateKelvoProcesses(state);
  } catch (const std::exception& error) {
    installed = false;
    PrimitiveLogger::Log(kSetupClientTag, "Exception occurred: %s", error.what());
  }

  CleanUpFile(path);
  return installed;
}
