// A process list a test writes: each process with the session it is said to
// run in, or the error that reading its session gives. Only processes marked
// real are opened, as the system opens them; the others cannot be opened.
// It records what a scan asked of it.
#pragma once

#include <windows.h>

#include <algorithm>
#include <unordered_map>
#include <vector>

#include "process/process_source.h"

class ScriptedProcessSource final : public ProcessSource {
 public:
  struct Process {
    DWORD id;
    DWORD session;
    DWORD sessionError;  // ERROR_SUCCESS: `session` is read
    bool real;           // a process of this machine, opened for real
  };

  // `endless`: every list fills whatever room it is given with the first
  // process, as a machine with more processes than any room would.
  ScriptedProcessSource(DWORD ownSession, std::vector<Process> processes, bool endless = false)
      : ownSession_(ownSession), processes_(std::move(processes)), endless_(endless) {
    for (const Process& process : processes_) byId_[process.id] = process;
  }

  Win32Result ListIds(DWORD* ids, DWORD capacityBytes, DWORD& bytesFilled) override {
    listRooms.push_back(capacityBytes);
    const size_t room = capacityBytes / sizeof(DWORD);
    const size_t listed = endless_ ? room : std::min(room, processes_.size());
    for (size_t i = 0; i < listed; ++i) ids[i] = processes_[endless_ ? 0 : i].id;
    bytesFilled = static_cast<DWORD>(listed * sizeof(DWORD));
    return Win32Result::Ok();
  }

  Win32Result SessionOf(DWORD processId, DWORD& sessionId) override {
    if (processId == GetCurrentProcessId()) {
      sessionId = ownSession_;
      return Win32Result::Ok();
    }
    const auto found = byId_.find(processId);
    if (found == byId_.end()) return Win32Result::Failed(ERROR_INVALID_PARAMETER);
    if (found->second.sessionError != ERROR_SUCCESS) {
      return Win32Result::Failed(found->second.sessionError);
    }
    sessionId = found->second.session;
    return Win32Result::Ok();
  }

  UniqueHandle Open(DWORD processId, DWORD access) override {
    const auto found = byId_.find(processId);
    const bool ownSession = found != byId_.end() && found->second.sessionError == ERROR_SUCCESS &&
                            found->second.session == ownSession_;
    ++(ownSession ? openedOwnSession : openedOthers);
    if (found == byId_.end() || !found->second.real) return UniqueHandle();
    return UniqueHandle(OpenProcess(access, FALSE, processId));
  }

  // The room each list was asked for, in bytes; how many processes were
  // opened of this session and of any other (or of none known).
  std::vector<DWORD> listRooms;
  DWORD openedOwnSession = 0;
  DWORD openedOthers = 0;

 private:
  DWORD ownSession_;
  std::vector<Process> processes_;
  std::unordered_map<DWORD, Process> byId_;
  bool endless_;
};
