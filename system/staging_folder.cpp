#include "system/staging_folder.h"

#include <utility>

#include "logging/ansi_text.h"
#include "logging/primitive_logger.h"
#include "system/file_sys_utils.h"
#include "system/folder_tree.h"
#include "system/known_folders.h"
#include "system/system_constants.h"
#include "system/temp_installer_path.h"

namespace {

constexpr char kTag[] = "StagingFolder";

// Errors that say "nobody may write here", as opposed to a full disk, which
// a folder on the same disk would not help with.
bool IsNotWritable(DWORD error) {
  switch (error) {
    case ERROR_ACCESS_DENIED:
    case ERROR_WRITE_PROTECT:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_DIRECTORY:
    case ERROR_INVALID_NAME:
    case ERROR_NOT_READY:
      return true;
    default:
      return false;
  }
}

}  // namespace

StagingFolder::StagingFolder(std::string privateFolder)
    : privateFolder_(std::move(privateFolder)) {}

StagingFolder::~StagingFolder() {
  try {
    // What the programs left there (an uninstaller's copy of itself, a
    // setup log) is theirs from this run; a folder link in it is removed,
    // never followed.
    if (!programsTemp_.empty()) FileSysUtils::DeleteIfExists(WideToAnsi(programsTemp_));
    for (auto folder = made_.rbegin(); folder != made_.rend(); ++folder) {
      // Only an empty folder goes: what is still in it was not the run's to
      // remove, or is still in use.
      if (RemoveDirectoryW(folder->c_str())) continue;
      PrimitiveLogger::Log(kTag, "Unable to remove the staging folder %s:  %lu",
                           WideToAnsi(*folder).c_str(), GetLastError());
      break;
    }
  } catch (...) {
    // Nowhere to report from a destructor.
  }
}

const std::string& StagingFolder::Path() {
  if (!chosen_) {
    chosen_ = true;
    Choose();
  }
  return path_;
}

void StagingFolder::Choose() {
  std::wstring temp;
  if (!UserTempFolder(temp)) {
    UsePrivateFolder("(none)", "cannot be read");
    return;
  }
  std::string narrow;
  const std::string problem = InstallerFolderProblem(temp, narrow);
  if (!problem.empty()) {
    UsePrivateFolder(WideToAnsi(temp), problem);
    return;
  }
  path_ = narrow;
  PrimitiveLogger::Log(kTag, "Installers are staged in the temporary folder %s", path_.c_str());
}

std::vector<std::wstring> StagingFolder::FoldersMade() const {
  std::vector<std::wstring> folders = made_;
  if (!programsTemp_.empty()) folders.push_back(programsTemp_);
  return folders;
}

bool StagingFolder::FallBackAfter(DWORD error) {
  if (isPrivate_ || path_.empty() || !IsNotWritable(error)) return false;
  const std::string temp = path_;
  path_.clear();
  UsePrivateFolder(temp, "cannot be written to (error " + std::to_string(error) + ")");
  return !path_.empty();
}

void StagingFolder::UsePrivateFolder(const std::string& tempFolder, const std::string& why) {
  isPrivate_ = true;
  std::string privateProblem;
  if (!MakePrivateFolder(privateProblem)) {
    PrimitiveLogger::Log(kTag,
                         "No folder can take the installers: the temporary folder %s %s, and "
                         "the private folder %s",
                         tempFolder.c_str(), why.c_str(), privateProblem.c_str());
    return;
  }
  PrimitiveLogger::Log(kTag, "The temporary folder %s %s; installers are staged in %s instead",
                       tempFolder.c_str(), why.c_str(), path_.c_str());
  MakeTempFolderForPrograms();
}

// The uninstallers, the setup program and msiexec would inherit the TEMP
// that cannot be used.
void StagingFolder::MakeTempFolderForPrograms() {
  const std::wstring folder = AnsiToWide(path_) + system_constants::kProgramsTempFolderName + L"\\";
  if (!CreateDirectoryW(folder.c_str(), nullptr)) {
    PrimitiveLogger::Log(kTag,
                         "Unable to make a temporary folder for the programs this run starts "
                         "at %s:  %lu",
                         WideToAnsi(folder).c_str(), GetLastError());
    return;
  }
  programsTemp_ = folder;
  PrimitiveLogger::Log(kTag, "The programs this run starts use %s as their temporary folder",
                       WideToAnsi(folder).c_str());
}

// The private folder under the local application-data folder, each level
// made when missing (and remembered, so that it goes again). A level that
// exists must be a real folder: a link there could lead the installers
// anywhere.
bool StagingFolder::MakePrivateFolder(std::string& why) {
  const std::string base = GetKnownFolderPath(KnownFolder::LocalAppData);
  if (base.empty()) {
    why = "has no local application-data folder to live in";
    return false;
  }
  std::wstring folder;
  const Win32Result made =
      MakeFolderChain(AnsiToWide(base), AnsiToWide(privateFolder_), made_, folder, nullptr);
  if (!made) {
    why = WideToAnsi(folder) + " cannot be made (error " + std::to_string(made.error()) + ")";
    return false;
  }
  std::string narrow;
  const std::string problem = InstallerFolderProblem(folder, narrow);
  if (!problem.empty()) {
    why = WideToAnsi(folder) + " " + problem;
    return false;
  }
  path_ = narrow;
  return true;
}
