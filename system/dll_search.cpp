#include "system/dll_search.h"

#include <optional>

#include "logging/primitive_logger.h"

namespace {

constexpr char kTag[] = "LockDllSearchToSystemFolder";

using SetDefaultDllDirectoriesFunction = BOOL(WINAPI*)(DWORD);

// The one process-wide fact it records: set once at start-up, read once
// when the log is up.
std::optional<DllSearchLock> g_lock;

DllSearchLock Lock() noexcept {
  // kernel32 is in every process; the call is looked up because Windows 7
  // without its loader update (KB2533623) lacks it, and an import of it
  // would keep the program from starting there.
  const HMODULE kernel32 = GetModuleHandleA("kernel32.dll");
  const FARPROC found =
      kernel32 != nullptr ? GetProcAddress(kernel32, "SetDefaultDllDirectories") : nullptr;
  if (found != nullptr) {
    const auto setDefault =
        reinterpret_cast<SetDefaultDllDirectoriesFunction>(reinterpret_cast<void (*)()>(found));
    if (setDefault(LOAD_LIBRARY_SEARCH_SYSTEM32)) return {DllSearchLock::Kind::SystemFolderOnly};
  }
  const DWORD error = GetLastError();
  // The fallback is for systems without the call (ERROR_PROC_NOT_FOUND) or
  // without the flag (ERROR_INVALID_PARAMETER) only; any other failure is
  // reported as it is.
  if (error != ERROR_PROC_NOT_FOUND && error != ERROR_INVALID_PARAMETER) {
    return {DllSearchLock::Kind::NotLocked, error};
  }
  // An empty string takes the current folder out of the search order.
  if (SetDllDirectoryA("")) return {DllSearchLock::Kind::CurrentFolderDropped, error};
  return {DllSearchLock::Kind::NotLocked, GetLastError()};
}

}  // namespace

DllSearchLock LockDllSearchToSystemFolder() noexcept {
  g_lock = Lock();
  return *g_lock;
}

namespace {

// Runs before every other constructor of a program this file is linked
// into (101 is the first priority a program may use), so before the entry
// point and before the libraries' own start-up code: libssp seeds the stack
// protector's guard through CryptoAPI, whose provider (rsaenh) loads
// crypt32 by name, which would otherwise be searched for in the program's
// own folder first.
__attribute__((constructor(101))) void LockDllSearchBeforeAnythingElse() {
  LockDllSearchToSystemFolder();
}

}  // namespace

void LogDllSearchLock() {
  if (!g_lock) {
    PrimitiveLogger::Log(kTag, "The DLL search was not limited: nothing asked for it");
    return;
  }
  switch (g_lock->kind) {
    case DllSearchLock::Kind::SystemFolderOnly:
      PrimitiveLogger::Log(kTag, "DLLs loaded by name come from the system folder only");
      break;
    case DllSearchLock::Kind::CurrentFolderDropped:
      PrimitiveLogger::Log(kTag,
                           "SetDefaultDllDirectories is not available (error %lu); the current "
                           "folder is taken out of the DLL search instead",
                           g_lock->error);
      break;
    case DllSearchLock::Kind::NotLocked:
      PrimitiveLogger::Log(kTag, "The DLL search could not be limited, error: %lu", g_lock->error);
      break;
  }
}
