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

// The run's result record, beside the completion marker under
// HKEY_CURRENT_USER, for management tools to read: the result word, the
// time of the result line (UTC), this run's log, the helper's build number
// and what the run did, in one line.
constexpr char kLastRunResultValue[] = "LastRunResult";
// What the components' versions read after the passes show ("Repaired",
// "AlreadyCurrent", "NotRepaired"), and those versions.
constexpr char kLastRunOutcomeValue[] = "LastRunOutcome";
constexpr char kLastRunVersionsValue[] = "LastRunVersions";
constexpr char kLastRunTimeValue[] = "LastRunTime";
constexpr char kLastRunLogValue[] = "LastRunLog";
constexpr char kLastRunHelperVersionValue[] = "LastRunHelperVersion";
constexpr char kLastRunSummaryValue[] = "LastRunSummary";
constexpr char kLastRunTimeFormat[] = "%04u-%02u-%02u %02u:%02u:%02u";

// A build number is the part of a version after its last full stop.
constexpr char kBuildSeparator = '.';

}  // namespace post_run_constants
