#include "remediation/process_termination.h"

#include <psapi.h>

#include <algorithm>
#include <utility>
#include <vector>

#include "logging/log_text.h"
#include "logging/primitive_logger.h"
#include "logging/owners.h"
#include "process/process_source.h"
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

// The ids of the processes running now, in the order EnumProcesses gives
// them. EnumProcesses does not say how many there are: a list that fills
// its room may have been cut, so the room doubles until the list leaves
// some of it unused, and no process is missed below the ceiling. At the
// ceiling the list is taken as it is and the log says so.
bool ListProcessIds(ProcessSource& source, std::vector<DWORD>& ids) {
  for (size_t capacity = kFirstProcessIdCapacity;; capacity *= 2) {
    ids.assign(capacity, 0);
    const DWORD capacityBytes = static_cast<DWORD>(capacity * sizeof(DWORD));
    DWORD bytesFilled = 0;
    const Win32Result listed = source.ListIds(ids.data(), capacityBytes, bytesFilled);
    if (!listed) {
      PrimitiveLogger::Log(kScanTag, "EnumProcesses() failed. Error: %lu", listed.error());
      return false;
    }
    ids.resize(std::min(bytesFilled, capacityBytes) / sizeof(DWORD));
    if (bytesFilled < capacityBytes) return true;
    if (capacity >= kProcessIdCeiling) {
      PrimitiveLogger::Log(kScanTag,
                           "The process list filled its ceiling of %lu ids; processes beyond "
                           "it are not seen",
                           static_cast<unsigned long>(kProcessIdCeiling));
      return true;
    }
  }
}

// The processes one scan left alone because of their session, logged once
// at the end of the scan: how many ran in other sessions, and how many, by
// error, had a session that could not be read.
class SessionSkips {
 public:
  void OtherSession() { ++otherSessions_; }
  void Unreadable(DWORD error) {
    for (auto& [knownError, count] : unreadable_) {
      if (knownError == error) {
        ++count;
        return;
      }
    }
    unreadable_.emplace_back(error, 1);
  }
  void Log(DWORD ownSession) const {
    PrimitiveLogger::Log(kScanTag,
                         "Skipped %lu process(es) of other sessions; this process runs in "
                         "session %lu",
                         otherSessions_, ownSession);
    for (const auto& [error, count] : unreadable_) {
      PrimitiveLogger::Log(kScanTag,
                           "Skipped %lu process(es) whose session cannot be read; Error:  %lu",
                           count, error);
    }
  }

 private:
  DWORD otherSessions_ = 0;
  std::vector<std::pair<DWORD, DWORD>> unreadable_;  // error, processes
};

}  // namespace

void TerminateKelvoProcesses(ConfigDrivenState& state) {
  SystemProcessSource system;
  TerminateKelvoProcesses(state, system);
}

void TerminateKelvoProcesses(ConfigDrivenState& state, ProcessSource& source) {
  PrimitiveLogger::Log(kScanTag, ">>>");

  std::vector<DWORD> processIds;
  if (!ListProcessIds(source, processIds)) return;

  DWORD ownSession = 0;
  const Win32Result ownSessionRead = source.SessionOf(GetCurrentProcessId(), ownSession);
  if (!ownSessionRead) {
    PrimitiveLogger::Log(kScanTag,
                         "The session of this process cannot be read, so no program is known "
                         "to be this user's; stopping none. Error:  %lu",
                         ownSessionRead.error());
    return;
  }

  state.IEProcessCount = 0;
  SessionSkips skips;
  for (const DWORD processId : processIds) {
    if (processId == 0) continue;

    // Only the programs of this session belong to the user the helper
    // repairs. On a terminal server, a shared PC or a desktop with fast user
    // switching the same programs run in other users' sessions, in the
    // middle of their work, and an elevated helper could open and end them.
    // So a process of another session is never opened, and neither is one
    // whose session cannot be read: it is not known to be this user's.
    DWORD session = 0;
    const Win32Result sessionRead = source.SessionOf(processId, session);
    if (!sessionRead) {
      skips.Unreadable(sessionRead.error());
      continue;
    }
    if (session != ownSession) {
      skips.OtherSession();
      continue;
    }

    // System and protected processes cannot be opened; they are none of
    // ours and are passed over silently.
    const UniqueHandle process = source.Open(processId, kTerminationAccess);
    if (!process) continue;

    // The scan's fixed buffer: a device path longer than it is a name that
    // cannot be read, skipped as always.
    char imagePath[kImageNameBufferSize] = {};
    if (K32GetProcessImageFileNameA(process.get(), imagePath, kImageNameBufferSize) == 0) {
      PrimitiveLogger::Log(kScanTag, "Process name was empty, skipping....");
      continue;
    }
    HandleProcess(FileNamePart(imagePath), processId, process.get(), state);
  }
  skips.Log(ownSession);
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
