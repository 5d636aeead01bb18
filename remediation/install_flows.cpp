#include "remediation/install_flows.h"

#include <windows.h>

#include <algorithm>
#include <exception>
#include <iterator>
#include <optional>
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

enum class InstallOutcome { Installed, NotInstalled, NotVerified };

// The steps both installs share: name the temporary file, stage the payload
// there (written, locked, verified), run it while the lock is held, clean the
// file up. Everything from naming the file on is guarded: a standard
// exception (the name could not be made, the machine-wide client could not be
// probed, the lock failed) ends this install only, logged under `tag`; an
// install whose end was not seen is not a success, whatever its start. A file
// that did not verify stays for inspection, and nothing more is done.
template <typename NamePath, typename ChoosePayload, typename Run>
InstallOutcome InstallFromPayload(const char* tag, const char* validationFailed, NamePath namePath,
                                  ChoosePayload choosePayload, Run run) {
  std::string path;
  bool installed = false;
  try {
    path = namePath();
    // Held until the installer has finished.
    const std::optional<QVFileLock> lock = StageInstaller(choosePayload(), path);
    if (!lock) {
      PrimitiveLogger::Log(tag, "%s", validationFailed);
      return InstallOutcome::NotVerified;
    }
    installed = run(path);
  } catch (const std::exception& error) {
    installed = false;
    PrimitiveLogger::Log(tag, "Exception occurred: %s", error.what());
  }
  CleanUpFile(path);
  return installed ? InstallOutcome::Installed : InstallOutcome::NotInstalled;
}

}  // namespace

bool InstallKVALForCurrentUser(ConfigDrivenState& state) {
  PrimitiveLogger::Log(kLauncherTag, ">>>");
  PrimitiveLogger::Log(kLauncherTag, "Attempting to install KVAL");
  const InstallOutcome outcome = InstallFromPayload(
      kLauncherTag, "KVAL Validation failed", GetLauncherMsiTempPath, LauncherPayload,
      [&state](const std::string& path) {
        state.SendProgressUpdate(kInstallingLauncherText);
        DWORD exitCode = STILL_ACTIVE;
        if (!RunMsiExec(BuildMsiInstallCommandLine(state.msiInteractive, path,
                                                   payload_constants::kMsiLogName),
                        INFINITE, exitCode) ||
            !IsMsiSuccess(exitCode)) {
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

bool InstallSetupClientForCurrentUser(ConfigDrivenState& state) {
  PrimitiveLogger::Log(kSetupClientTag, ">>>");
  PrimitiveLogger::Log(kSetupClientTag, "Attempting to install SetupClient");
  const InstallOutcome outcome = InstallFromPayload(
      kSetupClientTag, "KSC Validation failed", SetupClientTempPath,
      [&state] { return SetupClientPayload(state); },
      [&state](const std::string& path) {
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
