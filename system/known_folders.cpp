#include "system/known_folders.h"

#include <windows.h>
#include <knownfolders.h>
#include <objbase.h>
#include <shlobj.h>

#include <memory>
#include <optional>

#include "logging/primitive_logger.h"
#include "logging/owners.h"
#include "logging/ansi_text.h"

namespace {

constexpr char kTag[] = "GetKnownFolderPath";
constexpr DWORD kFolderBufferSize = MAX_PATH;  // 260 bytes
constexpr char kMsiExecRelativePath[] = "System32\\MsiExec.exe";

// Where each folder is looked up: its environment variable first, then the
// shell. A handful of fixed rows, searched in place.
struct FolderSource {
  KnownFolder folder;
  const char* environmentVariable;
  const KNOWNFOLDERID* shellFolder;
};

constexpr FolderSource kFolderTable[] = {
    {KnownFolder::WinDir, "WinDir", &FOLDERID_Windows},
    {KnownFolder::ProgramData, "ProgramData", &FOLDERID_ProgramData},
    {KnownFolder::AppData, "AppData", &FOLDERID_RoamingAppData},
    {KnownFolder::LocalAppData, "LocalAppData", &FOLDERID_LocalAppData},
    {KnownFolder::Public, "Public", &FOLDERID_Public},
    {KnownFolder::ProgramFilesX86, "ProgramFiles(x86)", &FOLDERID_ProgramFilesX86},
    {KnownFolder::ProgramW6432, "ProgramW6432", &FOLDERID_ProgramFilesX64},
};

const FolderSource* FindFolderSource(KnownFolder folder) {
  for (const FolderSource& row : kFolderTable) {
    if (row.folder == folder) return &row;
  }
  return nullptr;
}

// A folder whose name the ANSI code page cannot hold is unavailable: its
// narrow form ('?' or a best-fit look-alike) would name another folder.
std::string ExactOrUnavailable(const char* source, const std::wstring& folder) {
  const std::optional<std::string> narrow = WideToAnsiExact(folder);
  if (narrow) return *narrow;
  PrimitiveLogger::Log(kTag,
                       "Folder %s (%s) cannot be written in the ANSI code page (%u); treating it "
                       "as unavailable",
                       source, WideToAnsi(folder).c_str(), GetACP());
  return {};
}

// The shell's contract asks for its buffer to be freed whether or not the
// call succeeded.
std::string ShellFolderPath(const char* name, const KNOWNFOLDERID& id) {
  UniqueShellText path;
  const HRESULT result = SHGetKnownFolderPath(id, 0, nullptr, path.put());
  if (FAILED(result) || !path) return {};
  return ExactOrUnavailable(name, path.get());
}

// The variable's value read wide, so that no letter is lost on the way. Nothing
// when the variable is not set; an empty text when it is set but names no
// usable folder (too long for the folder buffer, or not in the code page):
// the environment has named the folder, so the shell is not asked.
std::optional<std::string> EnvironmentFolderPath(const char* variable) {
  const std::wstring name = AnsiToWide(variable);
  wchar_t buffer[kFolderBufferSize] = {};
  const DWORD length = GetEnvironmentVariableW(name.c_str(), buffer, kFolderBufferSize);
  if (length == 0) return std::nullopt;
  if (length >= kFolderBufferSize) return std::string();
  std::string path = ExactOrUnavailable(variable, buffer);
  if (path.size() >= kFolderBufferSize) return std::string();
  return path;
}

}  // namespace

std::string GetKnownFolderPath(KnownFolder folder) {
  const FolderSource* row = FindFolderSource(folder);
  if (row == nullptr) return {};

  const char* variable = row->environmentVariable;
  const std::optional<std::string> fromEnvironment = EnvironmentFolderPath(variable);
  std::string path =
      fromEnvironment ? *fromEnvironment : ShellFolderPath(variable, *row->shellFolder);
  if (!path.empty()) path += '\\';
  return path;
}

std::string GetMsiExecPath() {
  return GetKnownFolderPath(KnownFolder::WinDir) + kMsiExecRelativePath;
}
