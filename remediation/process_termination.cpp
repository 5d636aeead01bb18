#include "remediation/process_termination.h"

#include <psapi.h>

#include <vector>

#include "logging/log_text.h"
#include "logging/primitive_logger.h"
#include "logging/unique_handle.h"
#include "remediation/termination_constants.h"
#include "state/config_driven_state.h"
#include "system/ascii_text.h"

using namespace termination_constants;

namespace {

constexpr char kScanTag[] = "TerminateKelvoProcesses";
constexpr char kTerminateTag[] = "TryProcessTermination";

// Program names are compared whole and without regard to case, as the file
// system treats them: "KELVOSETUPCLIENT.EXE" matches, "KelvoSetupClient.exe.bak"
// does not.
bool IsSetupClientProgram(const std::string& name) {
  return EqualsIgnoringAsciiCase(name, kSetupClientProgram) ||
         EqualsIgnoringAsciiCase(name, kQuarnelSetupClientProgram);
}

// Terminates, counts or leaves one opened process, by its program name.
void HandleProcess(const std::string& name, DWORD processId, HANDLE process,
                   ConfigDrivenState& state) {
  if (EqualsIgnoringAsciiCase(name, kLauncherProgram) && state.IsLauncherUpgradeRequired()) {
    TryProcessTermination(name, processId, process, state);
  } else if (IsSetupClientProgram(name) && state.IsSetupClientUpgradeRequired()) {
    TryProcessTermination(name, processId, process, state);
  } else if (EqualsIgnoringAsciiCase(name, kInternetExplorerProgram)) {
    PrimitiveLogger::Log(kScanTag, "Found Internet Explorer running:%s (%lu)", name.c_str(),
                         processId);
    if (state.IsUserLocalSystem || !state.elevateForArg.empty()) {
      TryProcessTermination(name, processId, process, state);
    } else {
      ++state.IEProcessCount;
    }
  }
}

}  // namespace

void TerminateKelvoProcesses(ConfigDrivenState& state) {
  PrimitiveLogger::Log(kScanTag, ">>>");

  std::vector<DWORD> processIds(kProcessIdBufferBytes / sizeof(DWORD), 0);
  DWORD bytesReturned = 0;
  if (!K32EnumProcesses(processIds.data(), static_cast<DWORD>(kProcessIdBufferBytes),
                        &bytesReturned)) {
    PrimitiveLogger::Log(kScanTag, "EnumProcesses() failed. Error: %lu", GetLastError());
    return;
  }
  processIds.resize(bytesReturned / sizeof(DWORD));

  state.IEProcessCount = 0;
  for (const DWORD processId : processIds) {
    if (processId == 0) continue;

    // System, protected and other users' processes cannot be opened; they
    // are none of ours and are passed over silently.
    UniqueHandle process(OpenProcess(kTerminationAccess, FALSE, processId));
    if (!process) continue;

    char imagePath[kImageNameBufferSize] = {};
    if (K32GetProcessImageFileNameA(process.get(), imagePath, kImageNameBufferSize) == 0) {
      PrimitiveLogger::Log(kScanTag, "Process name was empty, skipping....");
      continue;
    }
    HandleProcess(FileNamePart(imagePath), processId, process.get(), state);
  }
}

void TryProcessTermination(const std::string& name, DWORD processId, HANDLE process,
                           ConfigDrivenState& state) {
  PrimitiveLogger::Log(kTerminateTag, "Terminating %s (%lu)", name.c_str(), processId);
  const bool terminated = TerminateProcess(process, kTerminationExitCode) != FALSE;
  // The wait lets the process go before its files are removed; whether it
  // went in time shows in the exit code below (259 if not).
  if (WaitForSingleObject(process, kTerminationWaitMs) == WAIT_FAILED) {
    PrimitiveLogger::Log(kTerminateTag, "Wait for %s (%lu) to end failed:  %lu", name.c_str(),
                         processId, GetLastError());
  }
  DWORD exitCode = 0;
  GetExitCodeProcess(process, &exitCode);

  // Every attempt counts, a failed one too: the log shows which failed.
  ++state.ProcessesKilled;
  AppendUniqueToList(state.ProcessesKilledList, name);
  PrimitiveLogger::Log(kTerminateTag, "TerminateProcess result: %s and exitcode: %ld",
                       BoolText(terminated), static_cast<long>(exitCode));
}
