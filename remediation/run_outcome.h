// What a run really achieved, judged by the components' versions read again
// after the install pass, beside the final result the log has always given.
#pragma once

#include <string>

#include "remediation/version_checks.h"

enum class RunOutcome {
  Repaired,        // both components current now, and this run changed something
  AlreadyCurrent,  // both were current already, and nothing was changed
  NotRepaired,     // anything else
};

// "Repaired", "AlreadyCurrent" or "NotRepaired".
const char* OutcomeText(RunOutcome outcome);

RunOutcome JudgeOutcome(const ComponentReadings& before, const ComponentReadings& after,
                        bool changed);

// One component's version as a reading names it: "22.7.2", "missing",
// "unreadable" (also for a broken executable or one never read).
std::string ReadingText(const ComponentReading& reading);

// "KVAL 22.7.2; KSC 22.7.3".
std::string VersionsText(const ComponentReadings& readings);

// The components that are not current in `after`, e.g. "KSC (unreadable)";
// empty when both are.
std::string ComponentsNotCurrent(const ComponentReadings& after);

// Reads both components again with the same check as before the passes
// (quietly: its lines are the first read's) and logs one line per component
// with its version before and after.
ComponentReadings ReadComponentsAfterRun(const ComponentReadings& before);
