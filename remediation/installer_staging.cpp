#include "remediation/installer_staging.h"

#include <exception>

#include "logging/primitive_logger.h"
#include "remediation/component_constants.h"
#include "remediation/embedded_payloads.h"
#include "remediation/payload_constants.h"
#include "state/config_driven_state.h"
#include "logging/environment_text.h"
#include "system/file_sys_utils.h"
#include "system/qv_file_lock.h"
#include "system/signature_verification.h"
#include "system/temp_installer_path.h"

using namespace component_constants;

namespace {

constexpr char kMachineWideProbeTag[] = "doesZELKExist";

// Whether the machine-wide client's user interface is installed. A path that
// cannot be expanded counts as missing; a file-system error other than "not
// found" is thrown to the caller.
bool MachineWideClientExists() {
  std::string path;
  return ExpandEnvironmentTextOrLog(kMachineWideClientPath, kExpandedPathBufferSize, path,
                                    kMachineWideProbeTag,
                                    "ExpandEnvironmentStrings Failed, last Error: %lu") &&
         FileSysUtils::Exists(path);
}

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

// Whether an installer would be ready to run, written out, locked and
// verified; the file goes again afterwards. Empty when it is ready.
std::string Stage(const Payload& payload, const std::string& path) {
  if (path.empty()) return "has no temporary file name";
  std::optional<QVFileLock> lock;
  try {
    lock = StageInstaller(payload, path);
  } catch (const std::exception& error) {
    return std::string("could not be written out and locked (") + error.what() + ")";
  }
  if (!lock) return "did not pass the signature check";
  lock.reset();
  CleanUpFile(path);
  return "";
}

// Why the installer that would replace a component cannot be used in this
// run, for the log; empty when it is ready.
template <typename ChoosePayload, typename NamePath>
std::string ReplacementProblem(ChoosePayload choosePayload, NamePath namePath) {
  try {
    const Payload payload = choosePayload();
    const std::string problem = Stage(payload, namePath());
    return problem.empty() ? problem : std::string("its installer ") + payload.name + " " + problem;
  } catch (const std::exception& error) {
    return std::string("its installer could not be prepared (") + error.what() + ")";
  }
}

}  // namespace

Payload SetupClientPayload(const ConfigDrivenState& state) {
  // A static whose initialiser throws stays uninitialised: the next call
  // probes again.
  static const Payload chosen = ChooseSetupClientPayload(state);
  return chosen;
}

Payload LauncherPayload() {
  return {payload_constants::kLauncherMsiId, payload_constants::kLauncherMsiName};
}

const std::string& SetupClientTempPath() {
  static const std::string path =
      GetTempPathForUnSafeInstaller(kSetupClientTempPrefix, kSetupClientTempExtension);
  return path;
}

const std::string& GetLauncherMsiTempPath() {
  static const std::string path =
      GetTempPathForUnSafeInstaller(kLauncherTempPrefix, kLauncherTempExtension);
  return path;
}

bool VerifyInstaller(const std::string& path) {
  return qvVerifySignature(path, kSignerTessaly, kSignerQuarnel, kSignerOrvane);
}

std::optional<QVFileLock> StageInstaller(const Payload& payload, const std::string& path) {
  WriteResourceToFile(payload.resourceId, payload.name, path);
  QVFileLock lock(path);
  if (!VerifyInstaller(path)) return std::nullopt;
  return lock;
}

std::string SetupClientReplacementProblem(const ConfigDrivenState& state) {
  return ReplacementProblem([&state] { return SetupClientPayload(state); }, SetupClientTempPath);
}

std::string LauncherReplacementProblem() {
  return ReplacementProblem(LauncherPayload, GetLauncherMsiTempPath);
}
