// Logs what a logger test asks for, in a process of its own so that the test
// can read the finished log file. Exit codes other than 0 report a failed
// expectation inside the probe.
#include <windows.h>

#include <cstring>
#include <string>

#include "logging/primitive_logger.h"
#include "logging/safe_close_handle.h"
#include "logging/owners.h"
#include "tests/support/handle_count.h"

namespace {

int LogLines() {
  PrimitiveLogger::Log("probe::lines", "first line\nsecond line\nthird line");
  PrimitiveLogger::Log("probe::lines", "numbers %lu %llu %d", 7ul, 12345678901ull, -3);
  PrimitiveLogger::Log("probe::lines", "wide %ls", L"text");
  std::string longMessage(9000, 'x');
  longMessage += "END";
  PrimitiveLogger::Log("probe::long", "%s", longMessage.c_str());
  PrimitiveLogger::Log("probe::lines", "after long");
  ShutdownLogger();
  ShutdownLogger();  // a second teardown does nothing
  PrimitiveLogger::Log("probe::late", "logged after the teardown");
  return 0;
}

int CloseHandles() {
  HANDLE null = nullptr;
  SafeCloseHandle(null);
  HANDLE invalid = INVALID_HANDLE_VALUE;
  SafeCloseHandle(invalid);
  if (null != nullptr || invalid != INVALID_HANDLE_VALUE) return 2;

  // The logger's file is opened by its first line, before the count.
  PrimitiveLogger::Log("probe::handles", "counting");
  const DWORD handlesBefore = test_support::OwnHandleCount();
  if (handlesBefore == 0) return 6;
  HANDLE guarded = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  SetHandleInformation(guarded, HANDLE_FLAG_PROTECT_FROM_CLOSE, HANDLE_FLAG_PROTECT_FROM_CLOSE);
  PrimitiveLogger::Log("probe::handles", "protected %p", guarded);
  HANDLE kept = guarded;
  SafeCloseHandle(kept);
  if (kept != guarded) return 3;
  SetHandleInformation(guarded, HANDLE_FLAG_PROTECT_FROM_CLOSE, 0);

  HANDLE normal = guarded;
  SafeCloseHandle(normal);
  if (normal != nullptr) return 4;
  // Clearing the variable is not enough: the handle must be gone.
  if (test_support::OwnHandleCount() != handlesBefore) return 5;

  // An owner closes even a protected handle: the refusal is logged, the
  // handle does not stay open.
  {
    UniqueHandle owned(CreateEventA(nullptr, TRUE, FALSE, nullptr));
    SetHandleInformation(owned.get(), HANDLE_FLAG_PROTECT_FROM_CLOSE,
                         HANDLE_FLAG_PROTECT_FROM_CLOSE);
    if (test_support::OwnHandleCount() != handlesBefore + 1) return 8;
  }
  if (test_support::OwnHandleCount() != handlesBefore) return 7;
  ShutdownLogger();
  return 0;
}

// Stands in for CloseHandle in an owner whose close fails: counts its calls
// and closes nothing.
int g_failingCloseCalls = 0;
BOOL WINAPI FailingClose(HANDLE) {
  ++g_failingCloseCalls;
  SetLastError(ERROR_INVALID_HANDLE);
  return FALSE;
}
struct FailingCloseTraits : KernelHandleTraits {
  static void Close(Value value) noexcept { CloseOwnedHandle(value, FailingClose); }
};

// An owner tries one close and gives the value up when it fails; a value
// that names no handle any more is never closed at all. 2: the owner kept
// the value, 3: closes tried other than once, 4: something closed the event
// behind the failed close, 5: not released, 6: no handle count, 8: not
// planted.
int FailedClose() {
  PrimitiveLogger::Log("probe::failed-close", "counting");
  const DWORD handlesBefore = test_support::OwnHandleCount();
  if (handlesBefore == 0) return 6;
  const HANDLE event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  if (event == nullptr || test_support::OwnHandleCount() != handlesBefore + 1) return 8;
  PrimitiveLogger::Log("probe::failed-close", "refused %p", event);
  {
    UniqueAny<FailingCloseTraits> owner(event);
    owner.reset();
    if (owner.valid()) return 2;
  }
  if (g_failingCloseCalls != 1) return 3;
  DWORD flags = 0;
  if (!GetHandleInformation(event, &flags) || test_support::OwnHandleCount() != handlesBefore + 1) {
    return 4;
  }
  CloseHandle(event);
  if (test_support::OwnHandleCount() != handlesBefore) return 5;

  // The event's value, now closed, names no handle: the owner logs that and
  // does not try to close it.
  PrimitiveLogger::Log("probe::failed-close", "stale %p", event);
  { UniqueAny<FailingCloseTraits> stale(event); }
  if (g_failingCloseCalls != 1) return 3;
  ShutdownLogger();
  return 0;
}

// A log call, the first one (which opens the log) and a later one, leaves
// the caller's last error as it was. 2 and 3: changed by the first or the
// second call.
int KeepLastError() {
  SetLastError(ERROR_FILE_NOT_FOUND);
  PrimitiveLogger::Log("probe::last-error", "first line");
  if (GetLastError() != ERROR_FILE_NOT_FOUND) return 2;
  SetLastError(ERROR_ACCESS_DENIED);
  PrimitiveLogger::Log("probe::last-error", "second line");
  if (GetLastError() != ERROR_ACCESS_DENIED) return 3;
  ShutdownLogger();
  return 0;
}

// The file the run records as its log (LastRunLog), logged into that file;
// 3 when there is none.
int LogPath() {
  const std::string path = GetLogFilePath();
  PrimitiveLogger::Log("probe::path", "%s", path.c_str());
  ShutdownLogger();
  return path.empty() ? 3 : 0;
}

}  // namespace

int main(int argc, char* argv[]) {
  const std::string mode = argc > 1 ? argv[1] : "";
  if (mode == "lines") return LogLines();
  if (mode == "handles") return CloseHandles();
  if (mode == "failed-close") return FailedClose();
  if (mode == "last-error") return KeepLastError();
  if (mode == "path") return LogPath();
  return 1;
}
