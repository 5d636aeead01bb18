#include "remediation/installer_staging.h"

#include "logging/environment_text.h"
#include "logging/primitive_logger.h"
#include "remediation/component_constants.h"
#include "remediation/embedded_payloads.h"
#include "remediation/payload_constants.h"
#include "state/config_driven_state.h"
#include "system/file_sys_utils.h"
#include "system/signature_verification.h"
#include "system/staging_folder.h"

using namespace component_constants;

namespace {

constexpr char kMachineWideProbeTag[] = "doesZELKExist";

// Whether the machine-wide client's user interface is installed. A path that
// cannot be expanded counts as missing; a file-system error other than "not
// found" is thrown to the caller.
bool MachineWideClientExists() {
  std::string path;
  const Win32Result expanded =
      ExpandEnvironmentText(kMachineWideClientPath, kExpandedPathBufferSize, path);
  if (!expanded) {
    PrimitiveLogger::Log(kMachineWideProbeTag, "ExpandEnvironmentStrings Failed, last Error: %lu",
                         expanded.error());
    return false;
  }
  return FileSysUtils::Exists(path);
}

// Stages in the run's folder; a temporary folder that turns out not to be
// writable gives way to the private one, and the file is staged there.
Win32Result StageWithFallback(StagingFolder& folder, const char* prefix, const char* extension,
                              const StagedFile::Writer& write, std::optional<StagedFile>& staged) {
  for (;;) {
    const Win32Result created = StagedFile::Create(folder.Path(), prefix, extension, write, staged);
    if (created || !folder.FallBackAfter(created.error())) return created;
  }
}

}  // namespace

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

Payload LauncherPayload() {
  return {payload_constants::kLauncherMsiId, payload_constants::kLauncherMsiName};
}

bool VerifyInstaller(const std::string& path) {
  return qvVerifySignature(path, kSignerTessaly, kSignerQuarnel, kSignerOrvane);
}

Replacement Replacement::Stage(StagingFolder& folder, const Payload& payload, const char* prefix,
                               const char* extension,
                               const std::function<void(const std::string&)>& named) {
  const std::string installer = std::string("its installer ") + payload.name;
  const StagedFile::Writer write = [&payload, &named](HANDLE file, const std::string& path) {
    if (named) named(path);
    return WriteResourceToOpenFile(payload.resourceId, payload.name, path, file);
  };
  if (folder.Path().empty()) {
    return Replacement(Problem::NotStaged, installer + " has no folder to be written to");
  }
  std::optional<StagedFile> staged;
  const Win32Result created = StageWithFallback(folder, prefix, extension, write, staged);
  if (!created) {
    return Replacement(Problem::NotStaged, installer +
                                               " could not be written out and held (error " +
                                               std::to_string(created.error()) + ")");
  }

  if (!VerifyInstaller(staged->path())) {
    // Never run, and left where it was written for inspection; held until
    // the install pass has said so.
    staged->Keep();
    return Replacement(Problem::NotVerified, installer + " did not pass the signature check",
                       std::move(*staged));
  }
  return Replacement(Problem::None, "", std::move(*staged));
}

void Replacement::Withhold(const std::string& why) {
  if (problem_ != Problem::None) return;
  file_.reset();
  problem_ = Problem::Withheld;
  why_ = why;
}

Replacement Replacement::Unprepared(const std::string& why) {
  return Replacement(Problem::NotPrepared, "its installer could not be prepared (" + why + ")");
}

const std::string& Replacement::path() const {
  static const std::string kNone;
  return file_ ? file_->path() : kNone;
}
