#include "system/staging_folder.h"

#include <optional>
#include <utility>

#include "logging/ansi_text.h"
#include "logging/primitive_logger.h"
#include "system/file_sys_utils.h"
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

// A variable of this process's environment; nothing when it is unset.
std::optional<std::wstring> ReadVariable(const wchar_t* name) {
  std::wstring value(MAX_PATH, L'\0');
  for (;;) {
    SetLastError(ERROR_SUCCESS);
    const DWORD length =
        GetEnvironmentVariableW(name, value.data(), static_cast<DWORD>(value.size()));
    if (length == 0) {
      if (GetLastError() == ERROR_ENVVAR_NOT_FOUND) return std::nullopt;
      return std::wstring();
    }
    if (length < value.size()) {
      value.resize(length);
      return value;
    }
    value.resize(length);
  }
}

void RestoreVariable(const wchar_t* name, const std::optional<std::wstring>& value) {
  if (!SetEnvironmentVariableW(name, value ? value->c_str() : nullptr)) {
    PrimitiveLogger::Log(kTag, "Unable to restore %s:  %lu", WideToAnsi(name).c_str(),
                         GetLastError());
  }
}

}  // namespace

StagingFolder::StagingFolder(std::string privateFolder)
    : privateFolder_(std::move(privateFolder)) {}

StagingFolder::~StagingFolder() {
  try {
    TakeBackTempFolder();
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
  LendTempFolderToPrograms();
}

// The uninstallers, the setup program and msiexec take TEMP from this
// process; the one they would find cannot be used.
void StagingFolder::LendTempFolderToPrograms() {
  const std::wstring folder = AnsiToWide(path_) + system_constants::kProgramsTempFolderName + L"\\";
  if (!CreateDirectoryW(folder.c_str(), nullptr)) {
    PrimitiveLogger::Log(kTag,
                         "Unable to make a temporary folder for the programs this run starts "
                         "at %s:  %lu",
                         WideToAnsi(folder).c_str(), GetLastError());
    return;
  }
  programsTemp_ = folder;
  previousTemp_ = ReadVariable(L"TEMP");
  previousTmp_ = ReadVariable(L"TMP");
  if (!SetEnvironmentVariableW(L"TEMP", folder.c_str()) ||
      !SetEnvironmentVariableW(L"TMP", folder.c_str())) {
    PrimitiveLogger::Log(kTag, "Unable to set TEMP and TMP to %s:  %lu", WideToAnsi(folder).c_str(),
                         GetLastError());
    return;
  }
  PrimitiveLogger::Log(kTag, "The programs this run starts use %s as their temporary folder",
                       WideToAnsi(folder).c_str());
}

void StagingFolder::TakeBackTempFolder() {
  if (programsTemp_.empty()) return;
  RestoreVariable(L"TEMP", previousTemp_);
  RestoreVariable(L"TMP", previousTmp_);
  // What the programs left there (an uninstaller's copy of itself, a
  // setup log) is theirs from this run; a folder link in it is removed,
  // never followed.
  FileSysUtils::DeleteIfExists(WideToAnsi(programsTemp_));
  programsTemp_.clear();
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
