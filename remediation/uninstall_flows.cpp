#include "remediation/uninstall_flows.h"

#include <windows.h>
#include <mbstring.h>

#include "logging/primitive_logger.h"
#include "process/win_process.h"
#include "remediation/component_constants.h"
#include "remediation/msi_command_line.h"
#include "remediation/msiexec_run.h"
#include "remediation/payload_constants.h"
#include "remediation/remediation_run.h"
#include "state/config_driven_state.h"
#include "system/file_sys_utils.h"
#include "system/library_calls.h"

using namespace component_constants;

namespace {

constexpr char kProductTag[] = "UninstallProductByUpgradeCode";
constexpr char kUninstallerTag[] = "CallUninstaller";

// Product names are compared whole, without regard to case, character by
// character in the ANSI code page (a lead and trail byte count as one).
bool IsLauncherProductName(const char* name) {
  return _mbsnicmp(reinterpret_cast<const unsigned char*>(name),
                   reinterpret_cast<const unsigned char*>(kLauncherProductName),
                   kProductNameBufferSize) == 0;
}

bool RemoveLauncherProduct(ConfigDrivenState& state, const std::wstring& environment,
                           const std::string& productCode) {
  DWORD exitCode = STILL_ACTIVE;
  if (!RunMsiExec(BuildMsiUninstallCommandLine(state.msiInteractive, productCode,
                                               payload_constants::kMsiLogName),
                  kChildWaitMs, environment, exitCode) ||
      exitCode != kSetupSuccessCode) {
    PrimitiveLogger::Log(kProductTag, "UnInstallation of %s - status unknown",
                         kLauncherProductName);
    return false;
  }
  ++state.AppsUnInstalled;
  AppendUniqueToList(state.AppsUnInstalledList, kLauncherProductName);
  PrimitiveLogger::Log(kProductTag, "UnInstallation of %s successful", kLauncherProductName);
  return true;
}

}  // namespace

std::string InstalledLauncherProduct() {
  for (DWORD index = 0;; ++index) {
    char productCode[kProductCodeBufferSize] = {};
    if (msi_library::MsiEnumRelatedProductsA(kLauncherUpgradeCode, 0, index, productCode) !=
        ERROR_SUCCESS) {
      return {};
    }
    char productName[kProductNameBufferSize] = {};
    DWORD nameSize = kProductNameBufferSize;
    const UINT nameStatus =
        msi_library::MsiGetProductInfoA(productCode, kProductNameProperty, productName, &nameSize);
    // Only the first product of that name is removed.
    if (IsLauncherProductName(productName)) return productCode;
    // A product whose name cannot be read ends the search.
    if (nameStatus != ERROR_SUCCESS) return {};
  }
}

bool UninstallProductByUpgradeCode(ConfigDrivenState& state, RemediationRun& run,
                                   const std::function<bool(const std::string&)>& beforeRemoval) {
  PrimitiveLogger::Log(kProductTag, ">>>");
  const std::string productCode = InstalledLauncherProduct();
  if (productCode.empty()) return false;
  if (beforeRemoval && !beforeRemoval(productCode)) return false;
  return RemoveLauncherProduct(state, run.ProgramsEnvironment(), productCode);
}

void CallUninstaller(ConfigDrivenState& state, RemediationRun& run, const std::string& baseFolder,
                     const std::string& product, const std::string& company) {
  PrimitiveLogger::Log(kUninstallerTag, ">>>");
  const std::string uninstallerPath =
      baseFolder + company + "\\" + product + "\\" + kUninstallerFileName;
  if (!FileSysUtils::Exists(uninstallerPath)) {
    PrimitiveLogger::Log(kUninstallerTag, "UninstallFile: %s does not exist",
                         uninstallerPath.c_str());
    return;
  }
  PrimitiveLogger::Log(kUninstallerTag, "UnInstalling %s  (from %s)", product.c_str(),
                       company.c_str());

  WinProcess uninstaller(uninstallerPath, kSilentSwitch, run.ProgramsEnvironment());
  // The uninstaller re-launches a copy of itself and exits; inside a job the
  // wait covers that copy too. Where no job can be made, the same program
  // runs directly and is waited for within the usual limit.
  bool launched = uninstaller.Launch(WinProcess::LaunchForm::Job, kJobNamePrefix);
  DWORD waitMs = run.limits().uninstallerJobMs;
  if (!launched) {
    launched = uninstaller.Launch(WinProcess::LaunchForm::CommandLine);
    waitMs = kChildWaitMs;
  }
  DWORD exitCode = STILL_ACTIVE;
  const bool removed =
      launched && uninstaller.WaitForExitCode(waitMs, exitCode) && exitCode == kSetupSuccessCode;
  if (!removed) {
    PrimitiveLogger::Log(kUninstallerTag, "UnInstallation of %s  (from %s) - status unknown",
                         product.c_str(), company.c_str());
    return;
  }
  ++state.AppsUnInstalled;
  AppendUniqueToList(state.AppsUnInstalledList, product);
  PrimitiveLogger::Log(kUninstallerTag, "UnInstallation of %s  (from %s) successful",
                       product.c_str(), company.c_str());
  CleanUpFile(uninstallerPath);
}
