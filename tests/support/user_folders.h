// A user profile folder named as a real user's is, for the scenarios that
// run the helper under other code pages: the roaming application-data
// folder (for the shell, msiexec and setup programs: the user's shell
// folder; for the helper: %APPDATA%) and the temporary folder (%TEMP%, %TMP%)
// move into it, and move back when the object goes.
#pragma once

#include <windows.h>

#include <optional>
#include <string>

#include "tests/support/test_support.h"

namespace test_support {

class ScopedUserFolders {
 public:
  explicit ScopedUserFolders(const std::wstring& userName);
  ~ScopedUserFolders();
  ScopedUserFolders(const ScopedUserFolders&) = delete;
  ScopedUserFolders& operator=(const ScopedUserFolders&) = delete;

  // Whether the folders exist, the shell names the new roaming folder and
  // both names are exact in the ANSI code page.
  bool planted() const;
  const std::string& roamingNarrow() const { return roamingNarrow_; }
  const std::string& tempNarrow() const { return tempNarrow_; }
  // The names of what is left in the temporary folder (the uninstaller's
  // own copy aside), empty when nothing.
  std::string TempLeftovers() const;

 private:
  std::wstring home_;
  std::wstring roaming_;
  std::wstring temp_;
  std::string roamingNarrow_;
  std::string tempNarrow_;
  std::optional<std::wstring> previousShellFolder_;
  std::optional<ScopedEnvVar> appData_;
  std::optional<ScopedEnvVar> tempVar_;
  std::optional<ScopedEnvVar> tmpVar_;
};

}  // namespace test_support
