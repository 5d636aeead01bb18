#include "logging/safe_close_handle.h"

#include "logging/primitive_logger.h"

void SafeCloseHandle(HANDLE& handle) {
  if (handle == nullptr || handle == INVALID_HANDLE_VALUE) return;

  DWORD flags = 0;
  if (!GetHandleInformation(handle, &flags) || (flags & HANDLE_FLAG_PROTECT_FROM_CLOSE) != 0) {
    PrimitiveLogger::Log("SafeCloseHandle", "Unable to get handle info (0x%p); Error:  %lu", handle,
                         GetLastError());
    return;
  }
  if (!CloseHandle(handle)) {
    PrimitiveLogger::Log("SafeCloseHandle", "Unable to close handle (0x%p); Error:  %lu", handle,
                         GetLastError());
    return;
  }
  handle = nullptr;
}

void CloseRefusedHandle(HANDLE& handle) {
  if (handle == nullptr || handle == INVALID_HANDLE_VALUE) return;
  // A value that names no handle any more makes both calls fail harmlessly.
  SetHandleInformation(handle, HANDLE_FLAG_PROTECT_FROM_CLOSE, 0);
  CloseHandle(handle);
  handle = nullptr;
}
