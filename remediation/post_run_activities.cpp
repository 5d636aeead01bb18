#include "remediation/post_run_activities.h"

#include <limits>

#include "logging/log_text.h"
#include "logging/primitive_logger.h"
#include "remediation/post_run_constants.h"
#include "remediation/product_store.h"
#include "remediation/product_store_constants.h"
#include "remediation/remediation_run.h"
#include "remediation/run_outcome.h"
#include "remediation/run_result_record.h"
#include "state/config_driven_state.h"
#include "system/registry_store.h"
#include "system/system_constants.h"

using namespace post_run_constants;

namespace {

constexpr char kPostRunTag[] = "HandlePostRunActivities";
constexpr char kKdcTag[] = "IsKDCUpgradeNeeded";
// The comparison's own lines keep the tag they had when it was a function
// object of its own.
constexpr char kKdcCheckTag[] = "IsKDCUpgradeNeeded::operator()";

bool IsSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

void LogAlert(const ConfigDrivenState& state, bool success) {
  if (!success) {
    PrimitiveLogger::Log(kPostRunTag, "Would've displayed:  %s", kFailureAlert);
  } else if (!state.kuhMSIProdCodeArg.empty()) {
    PrimitiveLogger::Log(kPostRunTag, "Would've displayed:  %s", kSuccessAlert);
  } else {
    PrimitiveLogger::Log(kPostRunTag, "Not invoked by MSI; Skipping this alert message:\n%s",
                         kSuccessAlert);
  }
}

// The final result line keeps its rule, which admins' scripts read; where it
// says "Success" for a run that left a component broken, one more line says
// which.
void LogOutcome(RunOutcome outcome, bool success, const ComponentReadings& after) {
  PrimitiveLogger::Log(kPostRunTag, "Verified outcome of this run:  %s (%s)", OutcomeText(outcome),
                       VersionsText(after).c_str());
  if (!success || outcome != RunOutcome::NotRepaired) return;
  const std::string notCurrent = ComponentsNotCurrent(after);
  PrimitiveLogger::Log(kPostRunTag, "The final result says %s, but this run did not repair %s",
                       kSuccessWord,
                       notCurrent.empty() ? "anything (it changed nothing)" : notCurrent.c_str());
}

}  // namespace

bool HandlePostRunActivities(ConfigDrivenState& state, const RemediationRun& run) {
  PrimitiveLogger::Log(kPostRunTag, ">>>");
  const ComponentReadings after = ReadComponentsAfterRun(run.before);
  const bool changed = state.AppsInstalled + state.AppsUnInstalled > 0;
  const RunOutcome outcome = JudgeOutcome(run.before, after, changed);

  // The marker may come from an earlier run: a run whose own launcher
  // install failed still succeeds once the launcher was installed before.
  bool success = IsPerUserCompStatusMarkedInRegistry();
  if (success && !state.zarArg.empty()) {
    PrimitiveLogger::Log(kKdcTag, ">>>");
    const bool needed = IsKDCUpgradeNeeded(state);
    PrimitiveLogger::Log(kKdcTag, "<<<  ; Returning:  %s", BoolText(needed));
    success = !needed;
  }
  SYSTEMTIME resultTime = {};
  GetSystemTime(&resultTime);
  PrimitiveLogger::Log(kPostRunTag, "*** === --- Final result of remediation:  %s --- === ***",
                       success ? kSuccessWord : kFailureWord);
  LogAlert(state, success);
  LogOutcome(outcome, success, after);
  WriteRunResultRecord(state, {success, outcome, VersionsText(after), resultTime, run.restored});
  PrimitiveLogger::Log(kPostRunTag, "<<<");
  return success;
}

bool IsKDCUpgradeNeeded(ConfigDrivenState& state) {
  PrimitiveLogger::Log(kKdcCheckTag, ">>>");
  state.kdcUpgradeNeeded = false;

  const std::string regVersion =
      GetStringFromReg(system_constants::kHiveLocalMachine, kKdcVersionValue, kKdcVersionDefault,
                       product_store_constants::kRemedionKey);
  const std::string iniVersion = GetVersionFromINI();
  PrimitiveLogger::Log(kKdcCheckTag, "Version from:  Reg:  %s;  INI:  %s", regVersion.c_str(),
                       iniVersion.c_str());

  const std::string regBuildText = ExtractBuildNumber(regVersion);
  const std::string iniBuildText = ExtractBuildNumber(iniVersion);
  const uint32_t regBuild = ParseBuildNumber(regBuildText);
  const uint32_t iniBuild = ParseBuildNumber(iniBuildText);
  PrimitiveLogger::Log(kKdcCheckTag, "Build#  from:  Reg:  %s (%lu);  INI:  %s (%lu)",
                       regBuildText.c_str(), static_cast<unsigned long>(regBuild),
                       iniBuildText.c_str(), static_cast<unsigned long>(iniBuild));

  // Only build numbers are compared. A required build that cannot be read
  // counts as an upgrade that is needed.
  const bool needed = regBuild == 0 || iniBuild < regBuild;
  state.kdcUpgradeNeeded = needed;
  PrimitiveLogger::Log(kKdcCheckTag, "<<<  ; Returning %d", needed ? 1 : 0);
  return needed;
}

std::string ExtractBuildNumber(const std::string& version) {
  const size_t separator = version.rfind(kBuildSeparator);
  if (separator == std::string::npos) return {};
  return version.substr(separator + 1);
}

uint32_t ParseBuildNumber(const std::string& text) {
  const char* position = text.c_str();
  while (IsSpace(*position)) ++position;
  const bool negative = *position == '-';
  if (*position == '+' || *position == '-') ++position;
  if (!IsDigit(*position)) return 0;

  constexpr uint32_t kMax = std::numeric_limits<uint32_t>::max();
  uint32_t value = 0;
  for (; IsDigit(*position); ++position) {
    const uint32_t digit = static_cast<uint32_t>(*position - '0');
    if (value > (kMax - digit) / 10u) return 0;  // does not fit in 32 bits
    value = value * 10u + digit;
  }
  // As strtoul does for a 32-bit unsigned long: a minus sign negates the
  // number in unsigned arithmetic.
  return negative ? 0u - value : value;
}
