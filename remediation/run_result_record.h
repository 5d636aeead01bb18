// The run's result where management tools look: registry values beside the
// completion marker, written with the final result. They add to the log and
// the marker and change neither.
#pragma once

#include <windows.h>

#include <string>

#include "remediation/run_outcome.h"

class ConfigDrivenState;

#include <vector>

// "terminated 2; uninstalled 3 (Setup Client, Kelvo Application Launcher);
// installed 2 (Setup Client, KVAL)", from the run state's counters and name
// lists (a list in parentheses only when it holds names), and "; restored 1
// (Setup Client 22.7.1)" when components were put back from their restore
// points.
std::string RunSummary(const ConfigDrivenState& state, const std::vector<std::string>& restored);

struct RunResult {
  bool success;          // the final result line's word
  RunOutcome outcome;    // what the versions read afterwards show
  std::string versions;  // "KVAL 22.7.2; KSC 22.7.3"
  SYSTEMTIME time;       // of the final result line, UTC
  std::vector<std::string> restored;  // "Setup Client 22.7.1"
};

// Writes LastRunResult, LastRunOutcome, LastRunVersions, LastRunTime,
// LastRunLog, LastRunHelperVersion and LastRunSummary under the marker's
// key. The outcome is logged in one line; a failure changes nothing else.
void WriteRunResultRecord(const ConfigDrivenState& state, const RunResult& result);
