#include "remediation/install_flows.h"

#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <exception>
#include <iterator>
#include <string>

#include "logging/primitive_logger.h"
#include "process/process_termination.h"
#include "process/win_process.h"
#include "remediation/component_constants.h"
#include "remediation/embedded_payloads.h"
#include "remediation/msi_command_line.h"
#include "remediation/payload_constants.h"
#include "state/config_driven_state.h"
#include "system/file_sys_utils.h"
#include "system/known_folders.h"
#include "system/qv_file_lock.h"
#include "system/signature_constants.h"
#include "system/signature_verification.h"
#include "system/temp_installer_path.h"

using namespace component_constants;

namespace {

constexpr char kLauncherTag[] = "InstallKVALForCurrentUser";
constexpr char kSetupClientTag[] = "InstallSetupClientForCurrentUser";
constexpr char kMachineWideProbeTag[] = "doesZELKExist";

struct Payload {
  uint16_t resourceId;
  const char* name;
};

bool VerifyInstaller(const std::string& path) {
  return qvVerifySignature(path, signature_constants::kSignerTessaly,
                           signature_constants::kSignerQuarnel, signature_constants::kSignerOrvane);
}

bool IsMsiSuccess(DWORD exitCode) {
  return std::find(std::begin(kMsiSuccessCodes), std::end(kMsiSuccessCodes), exitCode) !=
         std::end(kMsiSuccessCodes);
}

// Made once per process, on first use, and kept: every step of every run of
// the flow uses the same file.
const std::string& SetupClientTempPath() {
  static const std::string path =
      GetTempPathForUnSafeInstaller(kSetupClientTempPrefix, kSetupClientTempExtension);
  return path;
}

// Whether the machine-wide client's user interface is installed. A path that
// cannot be expanded counts as missing; a file-system error other than "not
// found" is thrown to the caller.
bool MachineWideClientExists() {
  char path[kExpandedPathBufferSize] = {};
  const DWORD needed = ExpandEnvironmentStringsA(kMachineWideClientPath, path, sizeof(path));
  if (needed == 0 || needed > sizeof(path)) {
    const DWORD error = needed == 0 ? GetLastError() : ERROR_INSUFFICIENT_BUFFER;
    PrimitiveLogger::Log(kMachineWideProbeTag, "ExpandEnvironmentStrings Failed, last Error: %lu",
                         error);
    return false;
  }
  return FileSysUtils::Exists(path);
}

// The older setup client goes with the machine-wide client; a run started by
// the installer package on a machine without it gets the current release.
Payload ChooseSetupClientPayload(const ConfigDrivenState& state) {
  const Payload older{payload_constants::kSetupClientInstallerId,
                      payload_constants::kSetupClientInstallerName};
  if (state.kuhMSIProdCodeArg.empty() || MachineWideClientExists()) return older;
  PrimitiveLogger::Log(kMachineWideProbeTag,
                       "It appears that ZELK is missing, which suggests that the OUH flow might "
                       "be web-based.");
  return {payload_constants::kSetupClient2273InstallerId,
          payload_constants::kSetupClient2273InstallerName};
}

}  // namespace

bool InstallKVALForCurrentUser(ConfigDrivenState& state) {
  PrimitiveLogger::Log(kLauncherTag, ">>>");
  PrimitiveLogger::Log(kLauncherTag, "Attempting to install KVAL");
  const std::string path = GetLauncherMsiTempPath();
  // A failed write shows up at the lock: nothing there, or a file that does
  // not verify.
  WriteResourceToFile(payload_constants::kLauncherMsiId, payload_constants::kLauncherMsiName, path);

  bool installed = false;
  try {
    QVFileLock lock(path);
    if (!VerifyInstaller(path)) {
      PrimitiveLogger::Log(kLauncherTag, "KVAL Validation failed");
      return false;
    }
    WinProcess msiExec(
        GetMsiExecPath(),
        BuildMsiInstallCommandLine(state.msiInteractive, path, payload_constants::kMsiLogName));
    state.SendProgressUpdate(kInstallingLauncherText);
    DWORD exitCode = STILL_ACTIVE;
    if (msiExec.Launch(WinProcess::LaunchForm::CommandLine) && msiExec.Wait(INFINITE) &&
        msiExec.GetExitCode(exitCode) && IsMsiSuccess(exitCode)) {
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
                       kLauncherLabel, installed ? "True" : "False");
  return installed;
}

bool InstallSetupClientForCurrentUser(ConfigDrivenState& state) {
  PrimitiveLogger::Log(kSetupClientTag, ">>>");
  PrimitiveLogger::Log(kSetupClientTag, "Attempting to install SetupClient");
  const std::string& path = SetupClientTempPath();
  const Payload payload = ChooseSetupClientPayload(state);
  WriteResourceToFile(payload.resourceId, payload.name, path);

  bool installed = false;
  try {
    QVFileLock lock(path);
    if (!VerifyInstaller(path)) {
      PrimitiveLogger::Log(kSetupClientTag, "KSC Validation failed");
      return false;
    }
    state.SendProgressUpdate(kInstallingSetupClientText);
    WinProcess setup(path, kSilentSwitch);
    DWORD exitCode = STILL_ACTIVE;
    if (setup.Launch(WinProcess::LaunchForm::CommandLine) && setup.Wait(kChildWaitMs) &&
        setup.GetExitCode(exitCode) && exitCode == kSetupSuccessCode) {
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
