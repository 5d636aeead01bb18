#include "remediation/run_outcome.h"

#include <exception>

#include "logging/primitive_logger.h"
#include "remediation/component_constants.h"

using namespace component_constants;

namespace {

constexpr char kTag[] = "ReadComponentsAfterRun";

bool BothCurrent(const ComponentReadings& readings) {
  return readings.launcher.state == VersionState::Current &&
         readings.setupClient.state == VersionState::Current;
}

void AppendNotCurrent(std::string& list, const char* label, const ComponentReading& reading) {
  if (reading.state == VersionState::Current) return;
  if (!list.empty()) list += ", ";
  list += std::string(label) + " (" + ReadingText(reading) + ")";
}

}  // namespace

const char* OutcomeText(RunOutcome outcome) {
  switch (outcome) {
    case RunOutcome::Repaired:
      return "Repaired";
    case RunOutcome::AlreadyCurrent:
      return "AlreadyCurrent";
    default:
      return "NotRepaired";
  }
}

RunOutcome JudgeOutcome(const ComponentReadings& before, const ComponentReadings& after,
                        bool changed) {
  if (!BothCurrent(after)) return RunOutcome::NotRepaired;
  if (changed) return RunOutcome::Repaired;
  return BothCurrent(before) ? RunOutcome::AlreadyCurrent : RunOutcome::NotRepaired;
}

std::string ReadingText(const ComponentReading& reading) {
  switch (reading.state) {
    case VersionState::Current:
    case VersionState::Outdated:
      return reading.version;
    case VersionState::Missing:
      return "missing";
    default:
      return "unreadable";
  }
}

std::string VersionsText(const ComponentReadings& readings) {
  return std::string(kLauncherLabel) + " " + ReadingText(readings.launcher) + "; " +
         kSetupClientLabel + " " + ReadingText(readings.setupClient);
}

std::string ComponentsNotCurrent(const ComponentReadings& after) {
  std::string list;
  AppendNotCurrent(list, kLauncherLabel, after.launcher);
  AppendNotCurrent(list, kSetupClientLabel, after.setupClient);
  return list;
}

ComponentReadings ReadComponentsAfterRun(const ComponentReadings& before) {
  ComponentReadings after;
  try {
    after = ReadComponentVersionsQuietly();
  } catch (const std::exception& error) {
    // A folder that cannot be tested proves nothing about the components.
    PrimitiveLogger::Log(kTag, "Unable to read the components again:  %s", error.what());
  }
  PrimitiveLogger::Log(kTag, "%s before the run:  %s; after it:  %s", kLauncherLabel,
                       ReadingText(before.launcher).c_str(), ReadingText(after.launcher).c_str());
  PrimitiveLogger::Log(kTag, "%s before the run:  %s; after it:  %s", kSetupClientLabel,
                       ReadingText(before.setupClient).c_str(),
                       ReadingText(after.setupClient).c_str());
  return after;
}
