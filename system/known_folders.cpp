#include "system/known_folders.h"

#include <windows.h>
#include <knownfolders.h>
#include <objbase.h>
#include <shlobj.h>

#include <map>
#include <memory>

#include "system/ansi_text.h"
#include "system/temp_installer_path.h"

namespace {

constexpr DWORD kFolderBufferSize = MAX_PATH;  // 260 bytes
constexpr char kMsiExecRelativePath[] = "System32\\MsiExec.exe";
constexpr char kVersionIniRelativePath[] = "Tessaly\\Kelvo\\TessalyVersion.ini";
constexpr char kLauncherTempPrefix[] = "KSL";
constexpr char kLauncherTempExtension[] = "msi";

struct FolderSource {
  const char* environmentVariable;
  const KNOWNFOLDERID* shellFolder;
};

// Built on first use (thread-safe static initialisation) and then only read.
const std::map<KnownFolder, FolderSource>& FolderTable() {
  static const std::map<KnownFolder, FolderSource> table = {
      {KnownFolder::WinDir, {"WinDir", &FOLDERID_Windows}},
      {KnownFolder::ProgramData, {"ProgramData", &FOLDERID_ProgramData}},
      {KnownFolder::AppData, {"AppData", &FOLDERID_RoamingAppData}},
      {KnownFolder::LocalAppData, {"LocalAppData", &FOLDERID_LocalAppData}},
      {KnownFolder::Public, {"Public", &FOLDERID_Public}},
      {KnownFolder::ProgramFilesX86, {"ProgramFiles(x86)", &FOLDERID_ProgramFilesX86}},
      {KnownFolder::ProgramW6432, {"ProgramW6432", &FOLDERID_ProgramFilesX64}},
  };
  return table;
}

struct CoTaskMemDeleter {
  void operator()(wchar_t* memory) const { CoTaskMemFree(memory); }
};

// The shell's contract asks for its buffer to be freed whether or not the
// call succeeded.
std::string ShellFolderPath(const KNOWNFOLDERID& id) {
  wchar_t* rawPath = nullptr;
  const HRESULT result = SHGetKnownFolderPath(id, 0, nullptr, &rawPath);
  const std::unique_ptr<wchar_t, CoTaskMemDeleter> path(rawPath);
  if (FAILED(result) || !path) return {};
  return WideToAnsi(path.get());
}

}  // namespace

std::string GetKnownFolderPath(KnownFolder folder) {
  const auto& table = FolderTable();
  const auto row = table.find(folder);
  if (row == table.end()) return {};

  // A value too long for the buffer gives a count above its size: the
  // environment has named the folder, so the shell is not asked, but what the
  // buffer holds then is no path.
  std::string path;
  char buffer[kFolderBufferSize] = {};
  const DWORD length =
      GetEnvironmentVariableA(row->second.environmentVariable, buffer, kFolderBufferSize);
  if (length != 0) {
    if (length < kFolderBufferSize) path = buffer;
  } else {
    path = ShellFolderPath(*row->second.shellFolder);
  }
  if (!path.empty()) path += '\\';
  return path;
}

std::string GetMsiExecPath() {
  return GetKnownFolderPath(KnownFolder::WinDir) + kMsiExecRelativePath;
}

std::string GetVersionIniPath() {
  const std::string path =
      GetKnownFolderPath(KnownFolder::ProgramFilesX86) + kVersionIniRelativePath;
  char expanded[kFolderBufferSize] = {};
  const DWORD length = ExpandEnvironmentStringsA(path.c_str(), expanded, kFolderBufferSize);
  // A result larger than the buffer is the size it would need, not a path.
  if (length == 0 || length > kFolderBufferSize) return {};
  return expanded;
}

std::string GetLauncherMsiTempPath() {
  static const std::string path =
      GetTempPathForUnSafeInstaller(kLauncherTempPrefix, kLauncherTempExtension);
  return path;
}
