#include "remediation/run_recovery.h"

#include <windows.h>

#include <string>
#include <vector>

#include "logging/ansi_text.h"
#include "logging/primitive_logger.h"
#include "remediation/component_constants.h"
#include "remediation/restore_points.h"
#include "remediation/run_journal.h"
#include "remediation/uninstall_flows.h"
#include "remediation/version_checks.h"
#include "system/folder_tree.h"
#include "system/known_folders.h"
#include "system/run_folder.h"
#include "system/small_file.h"
#include "system/temp_installer_path.h"

using namespace component_constants;

namespace {

constexpr char kTag[] = "RecoverUnfinishedRuns";

bool StartsWithFolder(const std::wstring& path, const std::wstring& folder) {
  return !folder.empty() && path.size() > folder.size() &&
         _wcsnicmp(path.c_str(), folder.c_str(), folder.size()) == 0;
}

bool EndsWith(const std::wstring& text, const wchar_t* end) {
  const size_t length = wcslen(end);
  return text.size() >= length && _wcsicmp(text.c_str() + text.size() - length, end) == 0;
}

// Where runs stage installers: the temporary folder, or the private staging
// folder; each ending in a backslash.
struct StagingPlaces {
  std::wstring temp;
  std::wstring privateFolder;
};

StagingPlaces CurrentStagingPlaces() {
  StagingPlaces places;
  (void)UserTempFolder(places.temp);  // none: nothing there is touched
  const std::string local = GetKnownFolderPath(KnownFolder::LocalAppData);
  if (!local.empty()) places.privateFolder = AnsiToWide(local + kPrivateStagingFolder) + L"\\";
  return places;
}

// An installer a run stages: directly in one of the places, named
// KSC....exe or KSL....msi.
bool IsStagedInstallerPath(const std::wstring& path, const StagingPlaces& places) {
  for (const std::wstring* folder : {&places.temp, &places.privateFolder}) {
    if (!StartsWithFolder(path, *folder)) continue;
    const std::wstring name = path.substr(folder->size());
    if (name.find(L'\\') != std::wstring::npos) continue;
    const bool setupClient = _wcsnicmp(name.c_str(), L"KSC", 3) == 0 && EndsWith(name, L".exe");
    const bool launcher = _wcsnicmp(name.c_str(), L"KSL", 3) == 0 && EndsWith(name, L".msi");
    if (setupClient || launcher) return true;
  }
  return false;
}

// A file that stands at `path` itself, not a link to one.
bool IsPlainFile(const std::wstring& path) {
  const DWORD attributes = GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES &&
         (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) == 0;
}

// Deletes the staged installers the journal names where a run stages
// them. False when one is still in use: a program the stopped run started
// (its setup program, say) is still running from it.
bool DeleteStaged(const JournalEntries& journal, const StagingPlaces& places) {
  bool allGone = true;
  for (const std::wstring& path : journal.staged) {
    const std::string shown = WideToAnsi(path);
    if (!IsStagedInstallerPath(path, places)) {
      PrimitiveLogger::Log(kTag, "Not touched: %s is not where a run stages its installers",
                           shown.c_str());
      continue;
    }
    if (GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES) continue;
    if (!IsPlainFile(path)) {
      PrimitiveLogger::Log(kTag, "Not touched: %s is no plain file", shown.c_str());
      continue;
    }
    if (DeleteFileW(path.c_str())) {
      PrimitiveLogger::Log(kTag, "Deleted the staged installer %s", shown.c_str());
      continue;
    }
    const DWORD error = GetLastError();
    PrimitiveLogger::Log(kTag, "Unable to delete the staged installer %s:  %lu", shown.c_str(),
                         error);
    if (error == ERROR_ACCESS_DENIED || error == ERROR_SHARING_VIOLATION) allGone = false;
  }
  return allGone;
}

// The private staging folder's own levels go only when empty; what a run
// made below it (the programs' temporary folder) goes with its content.
void RemoveMadeFolders(const JournalEntries& journal, const StagingPlaces& places) {
  for (auto folder = journal.madeFolders.rbegin(); folder != journal.madeFolders.rend(); ++folder) {
    const std::wstring path = *folder + (EndsWith(*folder, L"\\") ? L"" : L"\\");
    if (_wcsicmp(path.c_str(), places.privateFolder.c_str()) == 0) {
      RemoveDirectoryW(path.c_str());
    } else if (StartsWithFolder(path, places.privateFolder)) {
      (void)RemoveTree(path, kTag);
    } else {
      PrimitiveLogger::Log(kTag, "Not touched: %s is not a folder a run makes",
                           WideToAnsi(path).c_str());
    }
  }
}

// False when a component that needed it was not put back.
bool PutBack(const std::wstring& runFolder, const JournalEntries& journal) {
  bool allBack = true;
  const ComponentReadings now = ReadComponentVersionsQuietly();
  const std::string appData = GetKnownFolderPath(KnownFolder::AppData);
  const bool setupClientGone =
      !journal.removingSetupClients.empty() && !IsReadable(now.setupClient);
  // Without the application-data folder there is nowhere to put it yet.
  if (setupClientGone && appData.empty()) allBack = false;
  if (setupClientGone && !appData.empty()) {
    for (const SavedSetupClient& saved : journal.savedSetupClients) {
      const Win32Result back = PutBackSetupClient(runFolder, saved, appData, kTag);
      if (back) {
        PrimitiveLogger::Log(kTag, "%s (from %s) restored to %s, which the stopped run had removed",
                             kSetupClientProduct, saved.company.c_str(),
                             saved.version.empty() ? "its earlier version" : saved.version.c_str());
      } else {
        PrimitiveLogger::Log(kTag, "Unable to restore %s (from %s); Error:  %lu",
                             kSetupClientProduct, saved.company.c_str(), back.error());
        allBack = false;
      }
    }
  }
  if (journal.removingLauncher && !journal.savedLaunchers.empty() && !IsReadable(now.launcher) &&
      InstalledLauncherProduct().empty()) {
    // Before this run stages anything: msiexec gets this process's TEMP.
    const Win32Result back = PutBackLauncher(runFolder, std::wstring(), kTag);
    if (back) {
      PrimitiveLogger::Log(kTag, "%s restored to %s, which the stopped run had removed",
                           kLauncherProductName, journal.savedLaunchers.front().version.c_str());
    } else {
      PrimitiveLogger::Log(kTag, "Unable to restore %s; Error:  %lu", kLauncherProductName,
                           back.error());
      allBack = false;
    }
  }
  return allBack;
}

void Recover(const std::wstring& path, const StagingPlaces& places) {
  const std::string shown = WideToAnsi(path);
  RunFolder folder;  // removes the folder when it goes, once taken over
  const Win32Result taken = RunFolder::TakeOver(path, kRunLockFileName, folder, kTag);
  if (!taken) {
    if (taken.error() == ERROR_SHARING_VIOLATION) {
      PrimitiveLogger::Log(kTag, "%s belongs to a run that is still going on; left alone",
                           shown.c_str());
    }
    return;
  }
  const std::wstring journalPath = path + kJournalFileName;
  if (GetFileAttributesW(journalPath.c_str()) == INVALID_FILE_ATTRIBUTES) {
    PrimitiveLogger::Log(kTag, "An earlier run left %s without a journal; it is removed",
                         shown.c_str());
    return;
  }
  std::string text;
  JournalEntries journal;
  std::string why;
  const Win32Result read = ReadSmallFile(journalPath, kJournalLimitBytes, text, kTag);
  // Only a journal refused for what it is (a link, too large) or for what
  // it says is not ours; one that cannot be read just now (a scanner holds
  // it) may still be the only record of a removal.
  if (!read && read.error() != kErrorLinkRefused && read.error() != ERROR_FILE_TOO_LARGE) {
    PrimitiveLogger::Log(kTag, "The journal in %s cannot be read now; the folder is kept for a "
                               "later run to finish",
                         shown.c_str());
    folder.Keep();
    return;
  }
  if (!read) why = "it cannot be read (error " + std::to_string(read.error()) + ")";
  if (read && !ParseJournal(text, journal, why)) why = "it is not a run's journal: " + why;
  if (!why.empty()) {
    PrimitiveLogger::Log(kTag,
                         "The journal in %s is ignored, %s; nothing it names is touched, "
                         "and the folder is removed",
                         shown.c_str(), why.c_str());
    return;
  }
  PrimitiveLogger::Log(
      kTag,
      "An earlier run did not finish (%s): it staged %u installer(s), saved %u "
      "restore point(s) and was removing %u component folder(s)",
      shown.c_str(), static_cast<unsigned>(journal.staged.size()),
      static_cast<unsigned>(journal.savedSetupClients.size() + journal.savedLaunchers.size()),
      static_cast<unsigned>(journal.removingSetupClients.size() +
                            (journal.removingLauncher ? 1 : 0)));
  // An installer of the stopped run that still runs may still be changing
  // the component; what it leaves is judged by a later run.
  if (!DeleteStaged(journal, places)) {
    PrimitiveLogger::Log(kTag,
                         "A program the stopped run started still runs; %s is kept for a "
                         "later run to finish",
                         shown.c_str());
    folder.Keep();
    return;
  }
  // What cannot be put back now keeps its restore points for a later run,
  // also when an exception ends the recovery here.
  folder.KeepWhenGone(true);
  if (!PutBack(path, journal)) {
    PrimitiveLogger::Log(kTag, "Not everything the stopped run removed is back; %s is kept for a "
                               "later run to finish",
                         shown.c_str());
    return;
  }
  folder.KeepWhenGone(false);
  RemoveMadeFolders(journal, places);
}

}  // namespace

void RecoverUnfinishedRuns() {
  std::vector<std::wstring> refused;
  const std::vector<std::wstring> folders = RunFolder::Existing(kRestoreRoot, refused);
  for (const std::wstring& entry : refused) {
    PrimitiveLogger::Log(kTag, "Not touched: %s is no run folder of this helper's",
                         WideToAnsi(entry).c_str());
  }
  if (folders.empty()) return;
  const StagingPlaces places = CurrentStagingPlaces();
  for (const std::wstring& folder : folders) Recover(folder, places);
  RunFolder::RemoveRootIfEmpty(kRestoreRoot);
}
