#include "remediation/remediation_run.h"

#include <exception>

#include "remediation/component_constants.h"

using namespace component_constants;

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

Replacement& RemediationRun::LauncherReplacement() {
  if (!launcher_) {
    launcher_.emplace(Replacement::Stage(staging_, LauncherPayload(), kLauncherTempPrefix,
                                         kLauncherTempExtension));
  }
  return *launcher_;
}
