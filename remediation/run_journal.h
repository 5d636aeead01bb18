// A run's journal: what it staged, saved and is removing, written down
// before it does it, so that a later run can finish what a stopped run left
// (put back what it removed and did not replace, delete what it staged).
// The file is read back as untrusted input.
#pragma once

#include <string>
#include <vector>

#include "logging/win32_result.h"

struct SavedSetupClient {
  int index = 0;         // its folder in the run folder: setup-client-<index>
  std::string company;   // "Tessaly" or "Quarnel Networks"
  std::string version;   // as read before removal; empty when unreadable
};

struct SavedLauncher {
  std::string productCode;
  std::string version;
};

struct JournalEntries {
  std::vector<std::wstring> staged;       // installers written out
  std::vector<std::wstring> madeFolders;  // folders the run made for the programs it starts
  std::vector<SavedSetupClient> savedSetupClients;
  std::vector<SavedLauncher> savedLaunchers;
  std::vector<std::string> removingSetupClients;  // companies
  bool removingLauncher = false;
};

class RunJournal {
 public:
  RunJournal() = default;
  // Starts the journal at `path` (the run folder's journal file).
  static Win32Result Start(const std::wstring& path, RunJournal& journal);

  bool started() const { return !path_.empty(); }

  // Each adds its line and writes the whole journal anew before returning.
  Win32Result Staged(const std::wstring& path);
  Win32Result MadeFolder(const std::wstring& path);
  Win32Result SavedSetupClientFolder(const SavedSetupClient& saved);
  Win32Result SavedLauncherPackage(const SavedLauncher& saved);
  Win32Result RemovingSetupClient(const std::string& company);
  Win32Result RemovingLauncher();

 private:
  Win32Result Add(const std::string& line);

  std::wstring path_;
  std::string text_;
};

// Reads a journal's text: false with the reason when it is not one this
// helper wrote (an unknown line, a field out of its bounds, a path that is
// not valid UTF-8 or not absolute). Where its paths lie is the reader's to
// check.
bool ParseJournal(const std::string& text, JournalEntries& entries, std::string& why);
