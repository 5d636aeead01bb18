// Owner of a DLL loaded from the Windows system folder and nowhere else.
//
// Windows looks for a DLL that is not a KnownDLL in the program's own folder
// first, both for the import table and for LoadLibrary with a bare name. The
// helper runs from folders its users can write to (its installed folder
// under %LOCALAPPDATA%, a downloads folder), so a copy planted there would
// run inside it. Its import table therefore names only KnownDLLs, and every
// other system library is loaded through this type. Wine does not hold a
// program to this search order (it prefers its builtin DLLs), so tests
// cannot show the danger by default; the code follows the Windows contract.
#pragma once

#include <windows.h>

#include "logging/unique_any.h"

class SystemLibrary {
 public:
  // Where load and lookup failures are logged: the tag and the text that
  // starts each message.
  struct LogSite {
    const char* tag;
    const char* prefix;
  };

  SystemLibrary() = default;
  SystemLibrary(SystemLibrary&&) noexcept = default;
  SystemLibrary& operator=(SystemLibrary&&) noexcept = default;

  // `fileName` (a bare name such as "version.dll") from the system folder.
  // Each failed attempt is logged at `site`; a library that cannot be loaded
  // gives an empty owner whose error() says why.
  static SystemLibrary Load(const char* fileName, LogSite site) noexcept;

  explicit operator bool() const { return module_.valid(); }
  HMODULE get() const { return module_.get(); }
  // The loader's error when the library could not be loaded, otherwise 0.
  DWORD error() const { return error_; }
  // What a call reports in place of a function that could not be found: the
  // load's error, or ERROR_PROC_NOT_FOUND when the library itself loaded.
  DWORD UnavailableError() const { return module_ ? ERROR_PROC_NOT_FOUND : error_; }

  // An exported function by name or by ordinal, or null (logged at the load's
  // site) when the library is missing or does not export it.
  FARPROC Find(const char* functionName) const noexcept;
  FARPROC Find(WORD ordinal) const noexcept;

 private:
  // A library whose release fails is logged and let go.
  struct LibraryTraits {
    using Value = HMODULE;
    static Value Invalid() noexcept { return nullptr; }
    static bool IsValid(Value module) noexcept { return module != nullptr; }
    static void Close(Value module) noexcept;
  };

  UniqueAny<LibraryTraits> module_;
  DWORD error_ = 0;
  LogSite site_ = {"", ""};
};

// Sets `function` to an export of `library`, found by name or by ordinal, or
// to null when it cannot be found. The pointer's type is the one its system
// header declares (for example decltype(&::VerQueryValueA)), so that the
// calling convention comes from there. The address passes through the
// generic function type, which the compiler lets any function pointer pass
// through.
template <typename NameOrOrdinal, typename FunctionPointer>
void FindSystemFunction(const SystemLibrary& library, NameOrOrdinal nameOrOrdinal,
                        FunctionPointer& function) {
  function =
      reinterpret_cast<FunctionPointer>(reinterpret_cast<void (*)()>(library.Find(nameOrOrdinal)));
}

// The failure a wrapped call returns when its function is unavailable, with
// the reason as the thread's last error, as the call itself would leave it.
template <typename Result>
Result FailUnavailable(const SystemLibrary& library, Result failure) {
  SetLastError(library.UnavailableError());
  return failure;
}

// Calls `function` with `arguments`; when the function could not be found,
// fails as the call itself would: `failure`, with the reason as the last
// error.
template <typename Function, typename Result, typename... Arguments>
Result CallSystemFunction(const SystemLibrary& library, Function function, Result failure,
                          Arguments... arguments) {
  if (function == nullptr) return FailUnavailable<Result>(library, failure);
  return function(arguments...);
}

// A library's functions, loaded by the first call (from any thread) and kept
// while the process runs. The loader cannot throw, so a failed load is not
// retried: every later call fails the same way.
template <typename Functions, Functions (*Load)() noexcept>
const Functions& LoadedOnce() {
  static const Functions functions = Load();
  return functions;
}
