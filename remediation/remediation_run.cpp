#include "remediation/remediation_run.h"

#include <exception>

#include "logging/ansi_text.h"
#include "logging/primitive_logger.h"
#include "process/win_process.h"
#include "state/config_driven_state.h"
#include "remediation/component_constants.h"
#include "system/free_space.h"
#include "system/known_folders.h"
#include "system/temp_installer_path.h"

using namespace component_constants;

namespace {

constexpr char kRoomTag[] = "RemediationRun::RoomProblem";

// The folder whose volume the installers work on: the temporary folder the
// programs the run starts get, or, where that does not exist, the folder
// the installers are staged in.
// (A missing temporary folder is what the attribute check is for; it needs
// no log line of its own.)
std::wstring WorkFolder(const std::wstring& programsTemp, const std::string& stagingFolder) {
  if (!programsTemp.empty()) return programsTemp;
  std::wstring temp;
  if (UserTempFolder(temp)) {
    const DWORD attributes = GetFileAttributesW(temp.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
      return temp;
    }
  }
  return AnsiToWide(stagingFolder);
}

// Whether two existing folders lie on one volume.
bool OnSameVolume(const std::wstring& first, const std::wstring& second) {
  wchar_t firstVolume[MAX_PATH] = {};
  wchar_t secondVolume[MAX_PATH] = {};
  return GetVolumePathNameW(first.c_str(), firstVolume, MAX_PATH) &&
         GetVolumePathNameW(second.c_str(), secondVolume, MAX_PATH) &&
         _wcsicmp(firstVolume, secondVolume) == 0;
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
      // The journal exists before anything is staged; without one the
      // staging goes on (nothing is removed then).
      (void)restore_.Open();
      setupClient_.emplace(
          Replacement::Stage(staging_, ChooseSetupClientPayload(state), kSetupClientTempPrefix,
                             kSetupClientTempExtension,
                             [this](const std::string& path) { restore_.NoteStaged(path); }));
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
  // A private staging folder made for this run goes into the journal too.
  if (!foldersNoted_) {
    const std::vector<std::wstring> made = staging_.FoldersMade();
    foldersNoted_ = !made.empty();
    for (const std::wstring& folder : made) restore_.NoteMadeFolder(folder);
  }
}

Replacement& RemediationRun::LauncherReplacement() {
  if (!launcher_) {
    (void)restore_.Open();
    launcher_.emplace(
        Replacement::Stage(staging_, LauncherPayload(), kLauncherTempPrefix, kLauncherTempExtension,
                           [this](const std::string& path) { restore_.NoteStaged(path); }));
  }
  return *launcher_;
}

void RemediationRun::RollBackFailedInstalls() {
  restore_.RollBackFailedInstalls(GetKnownFolderPath(KnownFolder::AppData), ProgramsEnvironment(),
                                  setupClientInstall, launcherInstall, restored);
}

std::wstring RemediationRun::ProgramsEnvironment() const {
  const std::wstring& temp = staging_.ProgramsTempFolder();
  if (temp.empty()) return {};
  return EnvironmentBlockWith({{L"TEMP", temp}, {L"TMP", temp}});
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
  // components would succeed and the install fail. The restore points are
  // written before any removal, below the local application-data folder.
  const ULONGLONG installersNeed = kInstallerRoomMarginBytes + kInstallerUnpackFactor * staged;
  const std::wstring wideFolder = WorkFolder(staging_.ProgramsTempFolder(), staging_.Path());
  const std::wstring restoreVolume = AnsiToWide(GetKnownFolderPath(KnownFolder::LocalAppData));
  const bool restoreApart =
      restoreBytes_ > 0 && !restoreVolume.empty() && !OnSameVolume(wideFolder, restoreVolume);
  const ULONGLONG needed = installersNeed + (restoreApart ? 0 : restoreBytes_);
  const std::string folder = WideToAnsi(wideFolder);
  ULONGLONG free = 0;
  const Win32Result measured =
      wideFolder.empty() ? Win32Result::Ok() : FreeBytesForUser(wideFolder, free);
  if (wideFolder.empty() || !measured) {
    PrimitiveLogger::Log(kRoomTag,
                         "The free space in %s cannot be measured (%lu); going on without that "
                         "check",
                         folder.empty() ? "(no folder)" : folder.c_str(), measured.error());
    return *roomProblem_;
  }
  if (restoreBytes_ == 0) {
    PrimitiveLogger::Log(kRoomTag, "The disk of %s has %llu bytes free; the installers need %llu",
                         folder.c_str(), free, needed);
  } else {
    PrimitiveLogger::Log(kRoomTag,
                         "The disk of %s has %llu bytes free; the installers need %llu, with the "
                         "restore points (%llu bytes)%s",
                         folder.c_str(), free, needed, restoreBytes_,
                         restoreApart ? " on a disk of their own" : "");
  }
  if (free < needed) {
    *roomProblem_ = "the disk of the temporary folder " + folder + " has " + std::to_string(free) +
                    " bytes free; the installers need " + std::to_string(needed);
    return *roomProblem_;
  }
  if (restoreApart) {
    ULONGLONG restoreFree = 0;
    const ULONGLONG restoreNeeds = kInstallerRoomMarginBytes + restoreBytes_;
    if (FreeBytesForUser(restoreVolume, restoreFree) && restoreFree < restoreNeeds) {
      *roomProblem_ = "the disk of " + WideToAnsi(restoreVolume) + " has " +
                      std::to_string(restoreFree) + " bytes free; the restore points need " +
                      std::to_string(restoreNeeds);
    }
  }
  return *roomProblem_;
}
