// A private folder of one run of a program, below the user's local
// application-data folder: made fresh for the run, held through a lock file
// that the run keeps open for as long as it lives, and removed with what is
// in it when the run ends. A run that is stopped (logoff, a killed process)
// leaves its folder behind, but not its lock: the system closes the file
// with the process, which tells a later run that the folder's owner is gone.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "logging/owners.h"
#include "logging/win32_result.h"

class RunFolder {
 public:
  RunFolder() = default;
  // The lock is let go, then the folder is removed with what is in it
  // (links are removed, never followed), then the levels above it that
  // Make made, when empty; or kept, see KeepWhenGone. Never throws.
  ~RunFolder();
  RunFolder(RunFolder&& other) noexcept;
  RunFolder& operator=(RunFolder&& other) noexcept;
  RunFolder(const RunFolder&) = delete;
  RunFolder& operator=(const RunFolder&) = delete;

  // Makes a new folder named after the time and the process below
  // <LocalAppData>\<root>\ (each level a real folder, never a link) and
  // takes its lock file `lockName`.
  static Win32Result Make(const std::wstring& root, const wchar_t* lockName, RunFolder& folder,
                          const char* tag);

  // Takes over an earlier run's folder `path` (ending in a backslash) when
  // its owner is gone: ERROR_SHARING_VIOLATION while the owner still holds
  // its lock.
  static Win32Result TakeOver(const std::wstring& path, const wchar_t* lockName, RunFolder& folder,
                              const char* tag);

  // The folders below <LocalAppData>\<root>\, each ending in a backslash;
  // entries that are no real folders (a file, a link) are named in
  // `refused` and never entered.
  static std::vector<std::wstring> Existing(const std::wstring& root,
                                            std::vector<std::wstring>& refused);

  // Lets the lock go and leaves the folder as it is, for a later run.
  void Keep() noexcept;
  // Whether the owner going keeps the folder (as Keep) instead of removing
  // it: set while what the folder holds is still needed, so that nothing
  // on the way out, an exception included, takes it away.
  void KeepWhenGone(bool keep) { keepWhenGone_ = keep; }

  // Removes <LocalAppData>\<root>\ when nothing is left in it.
  static void RemoveRootIfEmpty(const std::wstring& root);

  bool held() const { return lock_.valid(); }
  // Ends in a backslash; empty when none is held.
  const std::wstring& path() const { return path_; }

 private:
  void Remove() noexcept;
  void LetGo() noexcept;

  std::wstring path_;
  UniqueHandle lock_;
  // The levels above it that Make made, outermost first: they go as well
  // when nothing else is in them.
  std::vector<std::wstring> madeAbove_;
  bool keepWhenGone_ = false;
};
