// The run's result where management tools look: registry values beside the
// completion marker, written with the final result. They add to the log and
// the marker and change neither.
#pragma once

#include <windows.h>

#include <string>

class ConfigDrivenState;

// "terminated 2; uninstalled 3 (Setup Client, Kelvo Application Launcher);
// installed 2 (Setup Client, KVAL)", from the run state's counters and
// name lists (a list in parentheses only when it holds names).
std::string RunSummary(const ConfigDrivenState& state);

// Writes LastRunResult, LastRunTime (`resultTime`, UTC), LastRunLog,
// LastRunHelperVersion and LastRunSummary under the marker's key. The
// outcome is logged in one line; a failure changes nothing else.
void WriteRunResultRecord(const ConfigDrivenState& state, bool success,
                          const SYSTEMTIME& resultTime);
