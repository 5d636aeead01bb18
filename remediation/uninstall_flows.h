// Removal of the old per-user components: the launcher product found by its
// upgrade code, and the setup client through its own uninstaller.
#pragma once

#include <windows.h>

#include <functional>
#include <string>

class ConfigDrivenState;
class RemediationRun;

// The first product related to the launcher's upgrade code whose name is
// the launcher's (any letter case); empty when there is none. Logs nothing.
std::string InstalledLauncherProduct();

// Removes that product with msiexec, in the run's environment for the
// programs it starts. True when such a product was found and its removal
// exited with 0. `beforeRemoval`, when given, sees the product code first
// and may refuse the removal (false). The msiexec launcher's construction
// failure (no MsiExec.exe) is thrown to the caller.
bool UninstallProductByUpgradeCode(
    ConfigDrivenState& state, RemediationRun& run,
    const std::function<bool(const std::string&)>& beforeRemoval = {});

// Runs "<baseFolder><company>\<product>\uninstall.exe /S" when it exists,
// counts a removal that exited with 0 and deletes the uninstaller left
// behind. `baseFolder` ends in a backslash. In its job, the uninstaller and
// what it starts are waited for up to the run's limit; started directly
// (where no job can be made), the uninstaller alone for the usual child
// limit.
void CallUninstaller(ConfigDrivenState& state, RemediationRun& run, const std::string& baseFolder,
                     const std::string& product, const std::string& company);
