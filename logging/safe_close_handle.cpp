#include "logging/safe_close_handle.h"

#include "logging/primitive_logger.h"

namespace {

constexpr char kTag[] = "SafeCloseHandle";

// What a close does with a handle protected from closing.
enum class Protected { Refuse, Lift };

// One query and at most one close of `handle`; true when it was closed.
// Every failure is logged here, once.
bool CloseOnce(HANDLE handle, Protected onProtected, BOOL(WINAPI* close)(HANDLE)) {
  DWORD flags = 0;
  const bool queried = GetHandleInformation(handle, &flags) != FALSE;
  const bool isProtected = queried && (flags & HANDLE_FLAG_PROTECT_FROM_CLOSE) != 0;
  if (!queried || (isProtected && onProtected == Protected::Refuse)) {
    PrimitiveLogger::Log(kTag, "Unable to get handle info (0x%p); Error:  %lu", handle,
                         GetLastError());
    return false;
  }
  if (isProtected) {
    PrimitiveLogger::Log(kTag, "Handle (0x%p) is protected from closing; its owner closes it",
                         handle);
    if (!SetHandleInformation(handle, HANDLE_FLAG_PROTECT_FROM_CLOSE, 0)) {
      PrimitiveLogger::Log(kTag, "Unable to lift the protection of handle (0x%p); Error:  %lu",
                           handle, GetLastError());
      return false;
    }
  }
  if (!close(handle)) {
    PrimitiveLogger::Log(kTag, "Unable to close handle (0x%p); Error:  %lu", handle,
                         GetLastError());
    return false;
  }
  return true;
}

bool IsNone(HANDLE handle) { return handle == nullptr || handle == INVALID_HANDLE_VALUE; }

}  // namespace

void SafeCloseHandle(HANDLE& handle) {
  if (IsNone(handle)) return;
  if (CloseOnce(handle, Protected::Refuse, CloseHandle)) handle = nullptr;
}

void CloseOwnedHandle(HANDLE handle, BOOL(WINAPI* close)(HANDLE)) noexcept {
  if (IsNone(handle)) return;
  CloseOnce(handle, Protected::Lift, close);
}
