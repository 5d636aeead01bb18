// The machine's processes as a scan over them sees them: their ids, the
// session each runs in, and a handle to one. The program scans the system's;
// tests give a scan processes of other sessions, and more of them than a
// test machine runs, through a source of their own.
#pragma once

#include <windows.h>

#include "logging/owners.h"
#include "logging/win32_result.h"

class ProcessSource {
 public:
  virtual ~ProcessSource() = default;

  // As EnumProcesses: fills `ids` (room for `capacityBytes` bytes) with the
  // ids of the processes running, and `bytesFilled` with the bytes it wrote.
  // A list that fills the room may have been cut.
  virtual Win32Result ListIds(DWORD* ids, DWORD capacityBytes, DWORD& bytesFilled) = 0;

  // As ProcessIdToSessionId: the session `processId` runs in.
  virtual Win32Result SessionOf(DWORD processId, DWORD& sessionId) = 0;

  // As OpenProcess, without handle inheritance: none when the process cannot
  // be opened.
  virtual UniqueHandle Open(DWORD processId, DWORD access) = 0;
};

// The processes of this machine.
class SystemProcessSource final : public ProcessSource {
 public:
  Win32Result ListIds(DWORD* ids, DWORD capacityBytes, DWORD& bytesFilled) override;
  Win32Result SessionOf(DWORD processId, DWORD& sessionId) override;
  UniqueHandle Open(DWORD processId, DWORD access) override;
};
