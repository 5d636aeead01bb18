#include "remediation/run_result_record.h"

#include <cstdio>
#include <utility>
#include <vector>

#include "build_info.h"
#include "logging/primitive_logger.h"
#include "remediation/post_run_constants.h"
#include "remediation/product_store_constants.h"
#include "state/config_driven_state.h"
#include "system/registry_store.h"
#include "system/system_constants.h"

using namespace post_run_constants;

namespace {

constexpr char kTag[] = "WriteRunResultRecord";

std::string CountWithNames(const char* what, unsigned long count, const std::string& names) {
  std::string part = std::string(what) + " " + std::to_string(count);
  if (!names.empty()) part += " (" + names + ")";
  return part;
}

std::string UtcText(const SYSTEMTIME& time) {
  char text[32] = {};
  snprintf(text, sizeof(text), kLastRunTimeFormat, time.wYear, time.wMonth, time.wDay, time.wHour,
           time.wMinute, time.wSecond);
  return text;
}

}  // namespace

std::string RunSummary(const ConfigDrivenState& state, const std::vector<std::string>& restored) {
  std::string summary =
      "terminated " + std::to_string(state.ProcessesKilled) + "; " +
      CountWithNames("uninstalled", state.AppsUnInstalled, state.AppsUnInstalledList) + "; " +
      CountWithNames("installed", state.AppsInstalled, state.AppsInstalledList);
  // A part of its own only when something was put back: the summary of
  // every other run reads as it always has.
  if (restored.empty()) return summary;
  std::string names;
  for (const std::string& name : restored) names += (names.empty() ? "" : ", ") + name;
  return summary + "; " +
         CountWithNames("restored", static_cast<unsigned long>(restored.size()), names);
}

void WriteRunResultRecord(const ConfigDrivenState& state, const RunResult& runResult) {
  const char* result = runResult.success ? kSuccessWord : kFailureWord;
  const char* outcome = OutcomeText(runResult.outcome);
  const std::string summary = RunSummary(state, runResult.restored);
  const std::vector<std::pair<std::string, std::string>> record = {
      {kLastRunResultValue, result},
      {kLastRunOutcomeValue, outcome},
      {kLastRunVersionsValue, runResult.versions},
      {kLastRunTimeValue, UtcText(runResult.time)},
      {kLastRunLogValue, GetLogFilePath()},
      {kLastRunHelperVersionValue, REMEDION_BUILD_NUMBER},
      {kLastRunSummaryValue, summary},
  };
  const Win32Result written = WriteTextValuesToReg(product_store_constants::kRemedionKey, record);
  if (written) {
    PrimitiveLogger::Log(kTag, "Run result recorded in HKCU\\%s:  %s; %s; %s; %s",
                         product_store_constants::kRemedionKey, result, outcome,
                         runResult.versions.c_str(), summary.c_str());
  } else {
    PrimitiveLogger::Log(kTag, "Unable to record the run result in HKCU\\%s; Error:  %lu",
                         product_store_constants::kRemedionKey, written.error());
  }
}
