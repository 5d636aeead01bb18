#include "remediation/remediation_run.h"

#include <exception>

#include "logging/ansi_text.h"
#include "logging/primitive_logger.h"
#include "state/config_driven_state.h"
#include "remediation/component_constants.h"
#include "system/free_space.h"
#include "system/temp_installer_path.h"

using namespace component_constants;

namespace {

constexpr char kRoomTag[] = "RemediationRun::RoomProblem";

// The folder whose volume the installers work on: the temporary folder the
// programs the run starts inherit, or, where that does not exist, the
// folder the installers are staged in.
// (A missing temporary folder is what the attribute check is for; it needs
// no log line of its own.)
std::wstring WorkFolder(const std::string& stagingFolder) {
  const std::optional<std::wstring> temp = UserTempFolder();
  if (temp) {
    const DWORD attributes = GetFileAttributesW(temp->c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
      return *temp;
    }
  }
  return AnsiToWide(stagingFolder);
}

}  // namespace

RemediationRun::RemediationRun(WaitLimits limits)
    : limits_(limits), staging_(kPrivateStagingFolder) {}

RemediationRun::~RemediationRun() {
  launcher_.reset();
  setupClient_.reset();
}

Replacement& RemediationRun::SetupClientReplacement(const ConfigDrivenState& state) {
  if (!setupClient_) {
    try {
      setupClient_.emplace(Replacement::Stage(staging_, ChooseSetupClientPayload(state),
                                              kSetupClientTempPrefix, kSetupClientTempExtension));
    } catch (const std::exception& error) {
      // The machine-wide client's probe failed: no payload can be chosen.
      setupClient_.emplace(Replacement::Unprepared(error.what()));
    }
  }
  return *setupClient_;
}

void RemediationRun::StageReplacements(const ConfigDrivenState& state) {
  if (state.IsSetupClientUpgradeRequired()) SetupClientReplacement(state);
  if (state.IsLauncherUpgradeRequired()) LauncherReplacement();
}

Replacement& RemediationRun::LauncherReplacement() {
  if (!launcher_) {
    launcher_.emplace(Replacement::Stage(staging_, LauncherPayload(), kLauncherTempPrefix,
                                         kLauncherTempExtension));
  }
  return *launcher_;
}

const std::string& RemediationRun::RoomProblem() {
  if (roomProblem_) return *roomProblem_;
  roomProblem_.emplace();
  ULONGLONG staged = 0;
  if (setupClient_) staged += setupClient_->size();
  if (launcher_) staged += launcher_->size();
  if (staged == 0) return *roomProblem_;

  // An uninstaller copies itself to the temporary folder and leaves the
  // copy; the setup program unpacks its whole archive there and msiexec
  // copies the database: without that room the removal of the old
  // components would succeed and the install fail.
  const ULONGLONG needed = kInstallerRoomMarginBytes + kInstallerUnpackFactor * staged;
  const std::wstring wideFolder = WorkFolder(staging_.Path());
  const std::string folder = WideToAnsi(wideFolder);
  DWORD error = ERROR_SUCCESS;
  const std::optional<ULONGLONG> free =
      wideFolder.empty() ? std::nullopt : FreeBytesForUser(wideFolder, error);
  if (!free) {
    PrimitiveLogger::Log(kRoomTag,
                         "The free space in %s cannot be measured (%lu); going on without that "
                         "check",
                         folder.empty() ? "(no folder)" : folder.c_str(), error);
    return *roomProblem_;
  }
  PrimitiveLogger::Log(kRoomTag, "The disk of %s has %llu bytes free; the installers need %llu",
                       folder.c_str(), *free, needed);
  if (*free < needed) {
    *roomProblem_ = "the disk of the temporary folder " + folder + " has " + std::to_string(*free) +
                    " bytes free; the installers need " + std::to_string(needed);
  }
  return *roomProblem_;
}
