// What one remediation run owns besides the run state (ConfigDrivenState,
// the record the log dumps): its wait limits, the components' versions as
// it found them, the installers it staged to replace them and the folder
// they are staged in, the environment the programs it starts get, the
// restore points and journal that let it (or the next run) put back what it
// removed, and how its installs ended. Every "once per run" of the passes
// lives here (the version checks, the staging, the room check), never in a
// static. The run driver makes one per run and hands it to the passes; it
// goes before the logger does, and before the run lock is let go.
#pragma once

#include <windows.h>

#include <optional>
#include <string>

#include <vector>

#include "remediation/component_constants.h"
#include "remediation/installer_staging.h"
#include "remediation/restore_points.h"
#include "remediation/version_checks.h"
#include "system/staging_folder.h"

class ConfigDrivenState;

struct WaitLimits {
  // An uninstaller's job: the uninstaller, its copy and what they start.
  DWORD uninstallerJobMs = component_constants::kUninstallerJobWaitMs;
  // The launcher's msiexec install.
  DWORD msiexecInstallMs = component_constants::kMsiexecInstallWaitMs;
};

class RemediationRun {
 public:
  explicit RemediationRun(WaitLimits limits = WaitLimits());
  // The staged installers still held are deleted, then the private staging
  // folder, if the run made one. Never throws.
  ~RemediationRun();
  RemediationRun(const RemediationRun&) = delete;
  RemediationRun& operator=(const RemediationRun&) = delete;

  const WaitLimits& limits() const { return limits_; }

  // The version checks run once per run; one that threw counts as not done.
  bool versionsChecked = false;
  // The components as the version checks found them before any pass.
  ComponentReadings before;

  // The replacements, staged on the first call (the uninstall pass stages
  // both before it removes anything) and held until the install pass has
  // run them or the run ends.
  Replacement& SetupClientReplacement(const ConfigDrivenState& state);
  Replacement& LauncherReplacement();
  // Stages the replacements of the components `state` says need work.
  void StageReplacements(const ConfigDrivenState& state);

  // Whether the temporary folder, where the uninstallers and installers do
  // their work, still has room for the staged installers to unpack, and the
  // restore folder for the restore points: empty when they have (or when
  // that cannot be measured, which is logged), else why not, for the log.
  // Measured once, after the staging and PlanRestorePoints.
  const std::string& RoomProblem();

  // The bytes the restore points of the components to be removed will
  // take, counted in the room check.
  void PlanRestorePoints(ULONGLONG bytes) { restoreBytes_ = bytes; }

  RestorePoints& restorePoints() { return restore_; }

  // The environment block of the programs the run starts: this process's,
  // with TEMP and TMP set to the staging folder's temporary folder when it
  // made them one; empty (they inherit this process's) otherwise.
  std::wstring ProgramsEnvironment() const;

  // How the install pass's two installs ended.
  InstallReport setupClientInstall;
  InstallReport launcherInstall;
  // The components put back from their restore points, "Setup Client 22.7.1".
  std::vector<std::string> restored;

  // After the install pass: puts back what this run removed and did not
  // replace.
  void RollBackFailedInstalls();

 private:
  WaitLimits limits_;
  // Declared first, so that it goes last: the journal outlives what it
  // names (the staged files, the staging folder).
  RestorePoints restore_;
  // Declared before the replacements: the folder goes after their files.
  StagingFolder staging_;
  std::optional<Replacement> setupClient_;
  std::optional<Replacement> launcher_;
  std::optional<std::string> roomProblem_;
  ULONGLONG restoreBytes_ = 0;
  bool foldersNoted_ = false;
};
