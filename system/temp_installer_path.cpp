#include "system/temp_installer_path.h"

#include <windows.h>

#include <optional>

#include "logging/primitive_logger.h"
#include "logging/ansi_text.h"
#include "system/file_sys_utils.h"
#include "system/system_constants.h"

using namespace system_constants;

namespace {

constexpr char kTag[] = "GetTempPathForUnSafeInstaller";

// The user's temporary folder in the ANSI code page, or nothing (logged).
// It is read wide: the narrow call would hand back a folder whose letters
// the code page lacks as '?' or as look-alikes, which name another folder.
std::optional<std::string> TempFolder() {
  wchar_t wideFolder[kTempPathBufferSize] = {};
  const DWORD length = GetTempPathW(kTempPathBufferSize, wideFolder);
  if (length == 0) {
    PrimitiveLogger::Log(kTag, "Failed to get temp dir:  %lu", GetLastError());
    return std::nullopt;
  }
  // A folder that does not fit is not copied; an empty folder would put the
  // installer into the current directory instead.
  if (length >= kTempPathBufferSize) {
    PrimitiveLogger::Log(kTag, "Failed to get temp dir:  %lu",
                         static_cast<unsigned long>(ERROR_INSUFFICIENT_BUFFER));
    return std::nullopt;
  }
  std::optional<std::string> folder = WideToAnsiExact(wideFolder);
  if (!folder) {
    PrimitiveLogger::Log(kTag,
                         "Temp dir %s cannot be written in the ANSI code page (%u); no installer "
                         "is written there",
                         WideToAnsi(wideFolder).c_str(), GetACP());
    return std::nullopt;
  }
  if (folder->size() >= kTempPathBufferSize) {
    PrimitiveLogger::Log(kTag, "Failed to get temp dir:  %lu",
                         static_cast<unsigned long>(ERROR_INSUFFICIENT_BUFFER));
    return std::nullopt;
  }
  return folder;
}

// `name` with the extension after its last dot replaced by `extension`
// (given with or without its dot).
std::string WithExtension(const std::string& name, const std::string& extension) {
  const size_t fileStart = name.find_last_of('\\') + 1;
  const size_t dot = name.find_last_of('.');
  const std::string stem =
      dot != std::string::npos && dot >= fileStart ? name.substr(0, dot) : name;
  if (extension.empty()) return stem;
  return stem + (extension[0] == '.' ? "" : ".") + extension;
}

}  // namespace

std::string GetTempPathForUnSafeInstaller(const std::string& prefix, const std::string& extension) {
  const std::optional<std::string> folder = TempFolder();
  if (!folder) return {};

  // GetTempFileNameA returns the number it put into the name, and any number
  // but 0 is a valid one; it creates an empty placeholder file of that name.
  char tempFile[kTempPathBufferSize] = {};
  const std::string namePrefix = prefix.substr(0, kTempPrefixLength);
  if (GetTempFileNameA(folder->c_str(), namePrefix.c_str(), kTempUniqueSystemPicked, tempFile) ==
      0) {
    PrimitiveLogger::Log(kTag, "Failed to get temp file name:  %lu", GetLastError());
    return {};
  }

  if (!DeleteFileA(tempFile)) {
    const DWORD error = GetLastError();
    if (error != ERROR_FILE_NOT_FOUND) {
      FileSysUtils::ThrowFileSystemError("remove", tempFile, error);
    }
  }
  return WithExtension(tempFile, extension);
}
