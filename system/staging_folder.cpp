#include "system/staging_folder.h"

#include <optional>
#include <utility>

#include "logging/ansi_text.h"
#include "logging/primitive_logger.h"
#include "system/known_folders.h"
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
  const std::optional<std::wstring> temp = UserTempFolder();
  if (!temp) {
    UsePrivateFolder("(none)", "cannot be read");
    return;
  }
  std::string narrow;
  const std::string problem = InstallerFolderProblem(*temp, narrow);
  if (!problem.empty()) {
    UsePrivateFolder(WideToAnsi(*temp), problem);
    return;
  }
  path_ = narrow;
  PrimitiveLogger::Log(kTag, "Installers are staged in the temporary folder %s", path_.c_str());
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
  std::wstring folder = AnsiToWide(base);
  std::wstring rest = AnsiToWide(privateFolder_);
  while (!rest.empty()) {
    const size_t separator = rest.find(L'\\');
    folder += rest.substr(0, separator) + L"\\";
    rest = separator == std::wstring::npos ? std::wstring() : rest.substr(separator + 1);
    if (CreateDirectoryW(folder.c_str(), nullptr)) {
      made_.push_back(folder);
      continue;
    }
    const DWORD error = GetLastError();
    const DWORD attributes = GetFileAttributesW(folder.c_str());
    if (error != ERROR_ALREADY_EXISTS || attributes == INVALID_FILE_ATTRIBUTES ||
        (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0 ||
        (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
      why = WideToAnsi(folder) + " cannot be made (error " +
            std::to_string(error == ERROR_ALREADY_EXISTS ? ERROR_DIRECTORY : error) + ")";
      return false;
    }
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
