#include "remediation/per_user_component_handler.h"

#include <exception>
#include <string>

#include "logging/primitive_logger.h"
#include "remediation/process_termination.h"
#include "remediation/product_store.h"
#include "remediation/component_constants.h"
#include "remediation/install_flows.h"
#include "remediation/installer_staging.h"
#include "remediation/remediation_run.h"
#include "remediation/restore_points.h"
#include "remediation/uninstall_flows.h"
#include "remediation/version_checks.h"
#include "state/config_driven_state.h"
#include "system/known_folders.h"

using namespace component_constants;

namespace {

constexpr char kHandlerTag[] = "HandlePerUserKelvoComponents";
constexpr char kUninstallTag[] = "UnInstallAllPerUserKelvoComponents";
constexpr char kInstallTag[] = "InstallAllPerUserKelvoComponents";

void RunPass(ConfigDrivenState& state, RemediationRun& run, int mode) {
  switch (mode) {
    case static_cast<int>(PerUserCompMode::Install):
      PrimitiveLogger::Log(kHandlerTag, "PerUserCompMode::Install");
      InstallAllPerUserKelvoComponents(state, run);
      break;
    case static_cast<int>(PerUserCompMode::UnInstall):
      PrimitiveLogger::Log(kHandlerTag, "PerUserCompMode::UnInstall");
      UnInstallAllPerUserKelvoComponents(state, run);
      break;
    default:
      PrimitiveLogger::Log(kHandlerTag, "Unrecognized mode for PUCOMP:  %d", mode);
      break;
  }
}

// True when the installer that replaces `component` is staged, verified and
// still held, and the temporary folder has room for it to run; otherwise
// says in the log why the component stays.
bool IsReplacementReady(const char* component, const Replacement& replacement,
                        const std::string& roomProblem) {
  const std::string& why = !replacement.ready() ? replacement.why() : roomProblem;
  if (why.empty()) return true;
  PrimitiveLogger::Log(kUninstallTag, "Not removing %s: %s", component, why.c_str());
  return false;
}

// True when what puts `component` back is saved; otherwise says in the log
// why it stays, and withholds its new installer: installing over a
// component that cannot be put back would risk it as much as removing it.
template <typename Save>
bool IsRestorePointSaved(const char* component, Replacement& replacement, Save save) {
  std::string why;
  if (save(why)) return true;
  const std::string reason = "its restore point cannot be made: " + why;
  PrimitiveLogger::Log(kUninstallTag, "Not removing %s: %s", component, reason.c_str());
  replacement.Withhold(reason);
  return false;
}

}  // namespace

void HandlePerUserKelvoComponents(ConfigDrivenState& state, RemediationRun& run,
                                  PerUserCompMode mode) {
  PrimitiveLogger::Log(kHandlerTag, ">>>");
  // The version checks fix the components' mask for the whole run; a check
  // that threw counts as not done.
  if (!run.versionsChecked) {
    isUpgradeRequired(state, run.before);
    run.versionsChecked = true;
  }

  if (state.forceReRun) {
    PrimitiveLogger::Log(kHandlerTag, "ReRun is forced; So, will not check registry");
  } else if (IsPerUserCompStatusMarkedInRegistry()) {
    PrimitiveLogger::Log(kHandlerTag,
                         "<<<  ; Per user components are already marked in registry; So, "
                         "skipping for now...");
    return;
  }

  try {
    RunPass(state, run, static_cast<int>(mode));
  } catch (const std::exception& error) {
    PrimitiveLogger::Log(kHandlerTag, "CPP Exception caught in HandlePerUserKelvoComponents:  %s",
                         error.what());
  } catch (...) {
    PrimitiveLogger::Log(kHandlerTag, "Unknown Exception caught in HandlePerUserKelvoComponents");
  }
}

void UnInstallAllPerUserKelvoComponents(ConfigDrivenState& state, RemediationRun& run) {
  PrimitiveLogger::Log(kUninstallTag, ">>>");
  // A component is removed only once the installer that replaces it in this
  // run is written out, verified and held, and what puts the old one back
  // is saved: otherwise the user would be left without it until the next
  // deployment. Both installers are staged before anything is removed, since
  // an uninstaller's own files may take the space a later write would need,
  // and they stay held until the install pass runs them.
  run.StageReplacements(state);
  const std::string appData = GetKnownFolderPath(KnownFolder::AppData);
  ULONGLONG restoreBytes = 0;
  if (!appData.empty() && state.IsSetupClientUpgradeRequired()) {
    restoreBytes += RestorePoints::SetupClientBytes(appData);
  }
  if (state.IsLauncherUpgradeRequired()) {
    const std::string product = InstalledLauncherProduct();
    if (!product.empty()) restoreBytes += RestorePoints::LauncherBytes(product);
  }
  run.PlanRestorePoints(restoreBytes);
  const std::string roomProblem = run.RoomProblem();
  TerminateKelvoProcesses(state);

  if (!appData.empty() && state.IsSetupClientUpgradeRequired()) {
    Replacement& replacement = run.SetupClientReplacement(state);
    if (IsReplacementReady(kSetupClientProduct, replacement, roomProblem) &&
        IsRestorePointSaved(kSetupClientProduct, replacement, [&](std::string& why) {
          return run.restorePoints().SaveSetupClient(appData, why);
        })) {
      state.SendProgressUpdate(kUninstallingSetupClientText);
      for (const char* company : {kTessalyCompany, kQuarnelCompany}) {
        run.restorePoints().RemovingSetupClient(company);
        CallUninstaller(state, run, appData, kSetupClientProduct, company);
      }
    }
  }
  if (state.IsLauncherUpgradeRequired()) {
    Replacement& replacement = run.LauncherReplacement();
    if (IsReplacementReady(kLauncherProductName, replacement, roomProblem)) {
      state.SendProgressUpdate(kUninstallingLauncherText);
      // The restore point is of the very product the removal takes.
      UninstallProductByUpgradeCode(state, run, [&](const std::string& productCode) {
        if (!IsRestorePointSaved(kLauncherProductName, replacement, [&](std::string& why) {
              return run.restorePoints().SaveLauncher(productCode, why);
            })) {
          return false;
        }
        run.restorePoints().RemovingLauncher();
        return true;
      });
    }
  }
}

void InstallAllPerUserKelvoComponents(ConfigDrivenState& state, RemediationRun& run) {
  PrimitiveLogger::Log(kInstallTag, ">>>");
  // Both staged (when the uninstall pass has not done so) before the room
  // for them is measured.
  run.StageReplacements(state);
  if (state.IsSetupClientUpgradeRequired()) InstallSetupClientForCurrentUser(state, run);
  if (state.IsLauncherUpgradeRequired()) {
    if (InstallKVALForCurrentUser(state, run)) {
      MarkPerUserCompStatusInRegistry();
    } else {
      PrimitiveLogger::Log(kInstallTag, "KVAL Installation failed; Not marking status in reg.");
    }
  }
  PrimitiveLogger::Log(kInstallTag, "<<<");
}
