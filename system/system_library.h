// The one loader of the system libraries the helper uses at run time: a DLL
// from the Windows system folder and nowhere else, its exports found by name
// or by ordinal.
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

#include <cstddef>
#include <type_traits>

#include "logging/owners.h"
#include "logging/win32_result.h"

class SystemLibrary {
 public:
  // Where load and lookup failures are logged: the tag and the text that
  // starts each message.
  struct LogSite {
    const char* tag;
    const char* prefix;
  };
  // An export by name, or by ordinal when the name is null.
  struct Export {
    const char* name;
    WORD ordinal;
  };

  SystemLibrary() = default;

  // `fileName` (a bare name such as "version.dll") from the system folder.
  // Each failed attempt is logged at `site`; a library that cannot be loaded
  // gives an empty owner whose error() says why.
  static SystemLibrary Load(const char* fileName, LogSite site) noexcept;

  explicit operator bool() const { return module_.valid(); }
  // Why the library could not be loaded; 0 when it was.
  DWORD error() const { return error_; }

  // The export, or null (logged at the load's site) when the library is
  // missing or does not export it.
  FARPROC Find(const Export& which) const noexcept;

 private:
  UniqueLibrary module_;
  DWORD error_ = 0;
  LogSite site_ = {"", ""};
};

// An export's address as the pointer type its system header declares (for
// example decltype(&::VerQueryValueA)), so that the calling convention comes
// from there. The address passes through the generic function type, which
// the compiler lets any function pointer pass through.
template <typename Function>
Function AsFunction(FARPROC address) {
  return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(address));
}

// A system library and the exports the helper calls in it, loaded and
// looked up together on first use and kept while the process runs: which
// libraries the system has is a fact of the process, so a failed load is
// not retried and every later call fails the same way.
template <size_t Count>
class SystemExports {
 public:
  SystemExports(const char* fileName, const char* tag,
                const SystemLibrary::Export (&exports)[Count])
      : library_(SystemLibrary::Load(fileName, {tag, ""})) {
    for (size_t i = 0; i < Count; ++i) functions_[i] = library_.Find(exports[i]);
  }

  // Export `index` (of the table given at construction) as `Function`, or
  // null.
  template <typename Function>
  Function Get(size_t index) const {
    return AsFunction<Function>(functions_[index]);
  }

  // What a call reports in place of a function that could not be found: the
  // load's error, or ERROR_PROC_NOT_FOUND when the library itself loaded.
  DWORD UnavailableError() const { return library_ ? ERROR_PROC_NOT_FOUND : library_.error(); }

  // Calls export `index` for a function that answers failure with 0 (FALSE,
  // no handle, no length) and the reason in the thread's last error: Ok, or
  // that error read at once, or why the export is unavailable. What it
  // returned goes to `returned` when given.
  template <typename Function, typename... Arguments>
  Win32Result Call(size_t index, std::invoke_result_t<Function, Arguments...>* returned,
                   Arguments... arguments) const {
    const Function function = Get<Function>(index);
    if (function == nullptr) return Win32Result::Failed(UnavailableError());
    const auto result = function(arguments...);
    if (returned != nullptr) *returned = result;
    return result ? Win32Result::Ok() : Win32Result::LastError();
  }

 private:
  SystemLibrary library_;
  FARPROC functions_[Count] = {};
};
