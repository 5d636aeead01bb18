// Before a run removes a component it saves what it takes to put that exact
// component back: the setup client's folder and its registration in
// Programs and Features, the launcher's cached installer package. They are
// kept in the run's own folder, beside its journal, until the run ends; a
// component whose new installation fails is put back from them, and a run
// stopped half way leaves them for the next run to do the same.
#pragma once

#include <windows.h>

#include <optional>
#include <string>
#include <vector>

#include "logging/win32_result.h"
#include "remediation/run_journal.h"
#include "system/run_folder.h"

// How a component's new installation ended, as the install pass saw it.
struct InstallReport {
  bool attempted = false;
  bool succeeded = false;
  std::string why;  // why it failed, for the log
};

class RestorePoints {
 public:
  RestorePoints() = default;

  // Makes the run's folder, its lock and its journal on the first call.
  // Empty when they are ready, else why not (logged once).
  const std::string& Open();

  // What the run stages and makes, written down before it is used; nothing
  // when the folder is not open.
  void NoteStaged(const std::string& path);
  void NoteMadeFolder(const std::wstring& path);

  // The bytes the restore points would take, for the room check.
  static ULONGLONG SetupClientBytes(const std::string& appData);
  static ULONGLONG LauncherBytes(const std::string& productCode);

  // Saves every company folder of the setup client that has an uninstaller
  // (all or none). False with why when one cannot be saved.
  bool SaveSetupClient(const std::string& appData, std::string& why);
  // Saves the launcher product's cached package. False with why.
  bool SaveLauncher(const std::string& productCode, std::string& why);

  // Written down before the removal starts.
  void RemovingSetupClient(const std::string& company);
  void RemovingLauncher();

  // Puts back each component this run removed that is not at a readable
  // version now (its setup did not start, failed, or left no readable
  // executable), msiexec running in `environment`; each one put back is
  // added to `restored` as "<label> <version>". What cannot be put back
  // (a failure, or an exception, which goes on to the caller) keeps its
  // restore points: the run folder is left, its lock let go, for the next
  // run to finish.
  void RollBackFailedInstalls(const std::string& appData, const std::wstring& environment,
                              const InstallReport& setupClient, const InstallReport& launcher,
                              std::vector<std::string>& restored);

 private:
  // False when a component that needed it was not put back.
  bool PutBackFailedInstalls(const std::string& appData, const std::wstring& environment,
                             const InstallReport& setupClient, const InstallReport& launcher,
                             std::vector<std::string>& restored);

  std::optional<std::string> problem_;
  RunFolder folder_;
  RunJournal journal_;
  std::vector<SavedSetupClient> setupClients_;
  std::optional<SavedLauncher> launcher_;
  std::vector<std::string> removingSetupClients_;
  bool removingLauncher_ = false;
};

// Puts a saved setup client folder of the run folder `runFolder` back in
// place: its files, then its registration.
Win32Result PutBackSetupClient(const std::wstring& runFolder, const SavedSetupClient& saved,
                               const std::string& appData, const char* tag);

// Installs the launcher again from the package saved in `runFolder`
// (silent msiexec with its own log, in `environment`: empty for this
// process's); fails with msiexec's exit code.
Win32Result PutBackLauncher(const std::wstring& runFolder, const std::wstring& environment,
                            const char* tag);

// The setup client folder of `company` under `appData`, ending in a
// backslash.
std::string SetupClientFolder(const std::string& appData, const std::string& company);
