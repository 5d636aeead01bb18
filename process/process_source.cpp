#include "process/process_source.h"

#include <psapi.h>

DWORD SystemProcessSource::ListIds(DWORD* ids, DWORD capacityBytes, DWORD& bytesFilled) {
  return K32EnumProcesses(ids, capacityBytes, &bytesFilled) ? ERROR_SUCCESS : GetLastError();
}

// ProcessIdToSessionId opens the process for a query: for another user's
// process an unelevated caller gets ERROR_ACCESS_DENIED. Wine answers every
// process with the caller's own session.
DWORD SystemProcessSource::SessionOf(DWORD processId, DWORD& sessionId) {
  return ProcessIdToSessionId(processId, &sessionId) ? ERROR_SUCCESS : GetLastError();
}

UniqueHandle SystemProcessSource::Open(DWORD processId, DWORD access) {
  return UniqueHandle(OpenProcess(access, FALSE, processId));
}
