#include "process/process_source.h"

#include <psapi.h>

Win32Result SystemProcessSource::ListIds(DWORD* ids, DWORD capacityBytes, DWORD& bytesFilled) {
  return K32EnumProcesses(ids, capacityBytes, &bytesFilled) ? Win32Result::Ok()
                                                            : Win32Result::LastError();
}

// ProcessIdToSessionId opens the process for a query: for another user's
// process an unelevated caller gets ERROR_ACCESS_DENIED. Wine answers every
// process with the caller's own session.
Win32Result SystemProcessSource::SessionOf(DWORD processId, DWORD& sessionId) {
  return ProcessIdToSessionId(processId, &sessionId) ? Win32Result::Ok() : Win32Result::LastError();
}

UniqueHandle SystemProcessSource::Open(DWORD processId, DWORD access) {
  return UniqueHandle(OpenProcess(access, FALSE, processId));
}
