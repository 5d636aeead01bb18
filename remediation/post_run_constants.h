// Words, alert texts and registry names of the end-of-run result.
#pragma once

namespace post_run_constants {

constexpr char kSuccessWord[] = "Success";
constexpr char kFailureWord[] = "Failure";

// The alerts only reach the log; no window shows them.
constexpr char kSuccessAlert[] = "Orvane Upgrade Helper Completed.";
constexpr char kFailureAlert[] =
    "Orvane Upgrade Helper could not complete; Please re-install "
    "KelvoUpgradeHelperInstaller.msi.\nIf issue persists and you are not able to connect to "
    "Vorngate (Gateway), please contact your support.";

// The desktop client's required version, read from HKEY_LOCAL_MACHINE under
// the program's own key.
constexpr char kKdcVersionValue[] = "KDCVersion";
constexpr char kKdcVersionDefault[] = "NotInREG";

// A build number is the part of a version after its last full stop.
constexpr char kBuildSeparator = '.';

}  // namespace post_run_constants
