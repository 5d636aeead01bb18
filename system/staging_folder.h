// Where a run writes the installers it is about to run: the user's
// temporary folder when it can take them, otherwise a private folder under
// the user's local application-data folder, which the run makes and
// removes again. The programs the run starts then get a temporary folder
// inside the private one as their TEMP and TMP (through the environment
// block they are started with; this process's own stays as it is): the
// installers do their own work there, and msiexec fails without a usable
// one.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

class StagingFolder {
 public:
  // `privateFolder`: the fallback's path below the local application-data
  // folder, e.g. "Maker\\Staging".
  explicit StagingFolder(std::string privateFolder);
  // Removes the programs' temporary folder with what they left in it, then
  // the folders this object made, when they are empty. Never throws.
  ~StagingFolder();
  StagingFolder(const StagingFolder&) = delete;
  StagingFolder& operator=(const StagingFolder&) = delete;

  // The folder (ending in a backslash), chosen on the first call and
  // logged with the reason for a fallback; empty when no folder can be
  // used.
  const std::string& Path();

  // The folders this object made and removes again (the private folder's
  // levels, the programs' temporary folder), outermost first.
  std::vector<std::wstring> FoldersMade() const;

  // The temporary folder the programs the run starts are to get as TEMP
  // and TMP (ending in a backslash); empty when they keep the one they
  // inherit.
  const std::wstring& ProgramsTempFolder() const { return programsTemp_; }

  // The folder in use refused a file with `error`: when that says it cannot
  // be written to and it is the temporary folder, moves to the private one.
  // True when there is a new folder to try.
  bool FallBackAfter(DWORD error);

 private:
  void Choose();
  void UsePrivateFolder(const std::string& tempFolder, const std::string& why);
  bool MakePrivateFolder(std::string& why);
  void MakeTempFolderForPrograms();

  std::string privateFolder_;
  bool chosen_ = false;
  bool isPrivate_ = false;
  std::string path_;
  // Made by this run, innermost last.
  std::vector<std::wstring> made_;
  std::wstring programsTemp_;
};
