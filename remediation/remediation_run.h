// What one remediation run owns besides the run state: its time limits, the
// components' versions as the run found them, and the installers it staged
// to replace them. The run driver makes one per run and hands it to the
// passes; it goes before the logger does.
#pragma once

#include <windows.h>

#include <optional>
#include <string>

#include "remediation/component_constants.h"
#include "remediation/installer_staging.h"
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
  // their work, still has room for the staged installers to unpack: empty
  // when it has (or when that cannot be measured, which is logged), else
  // why not, for the log. Measured once, after the staging.
  const std::string& RoomProblem();

 private:
  WaitLimits limits_;
  // Declared before the replacements: the folder goes after their files.
  StagingFolder staging_;
  std::optional<Replacement> setupClient_;
  std::optional<Replacement> launcher_;
  std::optional<std::string> roomProblem_;
};
