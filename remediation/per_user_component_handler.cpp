#include "remediation/per_user_component_handler.h"

#include <exception>
#include <string>

#include "logging/once_guard.h"
#include "logging/primitive_logger.h"
#include "remediation/process_termination.h"
#include "remediation/product_store.h"
#include "remediation/component_constants.h"
#include "remediation/install_flows.h"
#include "remediation/installer_staging.h"
#include "remediation/uninstall_flows.h"
#include "remediation/version_checks.h"
#include "state/config_driven_state.h"
#include "system/known_folders.h"

using namespace component_constants;

namespace {

constexpr char kHandlerTag[] = "HandlePerUserKelvoComponents";
constexpr char kUninstallTag[] = "UnInstallAllPerUserKelvoComponents";
constexpr char kInstallTag[] = "InstallAllPerUserKelvoComponents";

// The version checks fix the components' mask for the whole run; a check
// that threw counts as not done.
OnceGuard g_version_check_once;

void RunPass(ConfigDrivenState& state, int mode) {
  switch (mode) {
    case static_cast<int>(PerUserCompMode::Install):
      PrimitiveLogger::Log(kHandlerTag, "PerUserCompMode::Install");
      InstallAllPerUserKelvoComponents(state);
      break;
    case static_cast<int>(PerUserCompMode::UnInstall):
      PrimitiveLogger::Log(kHandlerTag, "PerUserCompMode::UnInstall");
      UnInstallAllPerUserKelvoComponents(state);
      break;
    default:
      PrimitiveLogger::Log(kHandlerTag, "Unrecognized mode for PUCOMP:  %d", mode);
      break;
  }
}

// True when nothing stands in the way of replacing `component`; otherwise
// says in the log why it stays.
bool IsReplacementReady(const char* component, const std::string& problem) {
  if (problem.empty()) return true;
  PrimitiveLogger::Log(kUninstallTag, "Not removing %s: %s", component, problem.c_str());
  return false;
}

}  // namespace

void HandlePerUserKelvoComponents(ConfigDrivenState& state, PerUserCompMode mode) {
  PrimitiveLogger::Log(kHandlerTag, ">>>");
  g_version_check_once.Run([&state] { isUpgradeRequired(state); });

  if (state.forceReRun) {
    PrimitiveLogger::Log(kHandlerTag, "ReRun is forced; So, will not check registry");
  } else if (IsPerUserCompStatusMarkedInRegistry()) {
    PrimitiveLogger::Log(kHandlerTag,
                         "<<<  ; Per user components are already marked in registry; So, "
                         "skipping for now...");
    return;
  }

  try {
    RunPass(state, static_cast<int>(mode));
  } catch (const std::exception& error) {
    PrimitiveLogger::Log(kHandlerTag, "CPP Exception caught in HandlePerUserKelvoComponents:  %s",
                         error.what());
  } catch (...) {
    PrimitiveLogger::Log(kHandlerTag, "Unknown Exception caught in HandlePerUserKelvoComponents");
  }
}

void UnInstallAllPerUserKelvoComponents(ConfigDrivenState& state) {
  PrimitiveLogger::Log(kUninstallTag, ">>>");
  TerminateKelvoProcesses(state);

  // A component is removed only once the installer that replaces it in
  // this run has been written out and verified: otherwise the user would be
  // left without it until the next deployment.
  const std::string appData = GetKnownFolderPath(KnownFolder::AppData);
  if (!appData.empty() && state.IsSetupClientUpgradeRequired() &&
      IsReplacementReady(kSetupClientProduct, SetupClientReplacementProblem(state))) {
    state.SendProgressUpdate(kUninstallingSetupClientText);
    CallUninstaller(state, appData, kSetupClientProduct, kTessalyCompany);
    CallUninstaller(state, appData, kSetupClientProduct, kQuarnelCompany);
  }
  if (state.IsLauncherUpgradeRequired() &&
      IsReplacementReady(kLauncherProductName, LauncherReplacementProblem())) {
    state.SendProgressUpdate(kUninstallingLauncherText);
    UninstallProductByUpgradeCode(state);
  }
}

void InstallAllPerUserKelvoComponents(ConfigDrivenState& state) {
  PrimitiveLogger::Log(kInstallTag, ">>>");
  if (state.IsSetupClientUpgradeRequired()) InstallSetupClientForCurrentUser(state);
  if (state.IsLauncherUpgradeRequired()) {
    if (InstallKVALForCurrentUser(state)) {
      MarkPerUserCompStatusInRegistry();
    } else {
      PrimitiveLogger::Log(kInstallTag, "KVAL Installation failed; Not marking status in reg.");
    }
  }
  PrimitiveLogger::Log(kInstallTag, "<<<");
}
