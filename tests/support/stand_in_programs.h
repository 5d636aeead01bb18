// The stand-in component programs built under payloads/, and running copies
// of programs that a test must not leave behind.
#pragma once

#include <windows.h>

#include <string>

#include "logging/owners.h"

namespace test_support {

// <payloads>\<folder>\<exeName>, the payloads folder from REMEDION_PAYLOADS_DIR;
// for example StandInPath("KelvoSetupClient-22.7.2.0", "KelvoSetupClient.exe").
std::string StandInPath(const std::string& folder, const std::string& exeName);

// A started program that is terminated, if still running, when the object
// goes out of scope, so that a failing test leaves nothing behind.
class RunningProgram {
 public:
  explicit RunningProgram(const std::string& executablePath, const std::string& arguments = "");
  ~RunningProgram();
  RunningProgram(const RunningProgram&) = delete;
  RunningProgram& operator=(const RunningProgram&) = delete;

  bool started() const { return process_.valid(); }
  // CreateProcess's error when it did not start, for the failure message.
  DWORD startError() const { return startError_; }
  DWORD pid() const { return pid_; }
  // Waits up to `waitMs` for the program to end on its own.
  bool IsRunning(DWORD waitMs = 0) const;

 private:
  UniqueHandle process_;
  DWORD pid_ = 0;
  DWORD startError_ = ERROR_SUCCESS;
};

// Whether a process with this id exists and has not ended (a suspended one
// counts as running).
bool IsProcessRunning(DWORD pid);

// Terminates the process with this id if it still runs.
void KillProcess(DWORD pid);

}  // namespace test_support
