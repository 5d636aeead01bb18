#include "system/temp_installer_path.h"

#include <windows.h>

#include <filesystem>

#include "logging/primitive_logger.h"
#include "system/ansi_text.h"
#include "system/system_constants.h"

namespace fs = std::filesystem;
using namespace system_constants;

namespace {

constexpr char kTag[] = "GetTempPathForUnSafeInstaller";

}  // namespace

std::string GetTempPathForUnSafeInstaller(const std::string& prefix, const std::string& extension) {
  char tempFolder[kTempPathBufferSize] = {};
  const DWORD folderLength = GetTempPathA(kTempPathBufferSize, tempFolder);
  if (folderLength == 0) {
    PrimitiveLogger::Log(kTag, "Failed to get temp dir:  %lu", GetLastError());
    return {};
  }
  // A folder that does not fit is not copied; an empty folder would put the
  // installer into the current directory instead.
  if (folderLength >= kTempPathBufferSize) {
    PrimitiveLogger::Log(kTag, "Failed to get temp dir:  %lu",
                         static_cast<unsigned long>(ERROR_INSUFFICIENT_BUFFER));
    return {};
  }

  // GetTempFileNameA returns the number it put into the name, and any number
  // but 0 is a valid one; it creates an empty placeholder file of that name.
  char tempFile[kTempPathBufferSize] = {};
  const std::string namePrefix = prefix.substr(0, kTempPrefixLength);
  if (GetTempFileNameA(tempFolder, namePrefix.c_str(), kTempUniqueSystemPicked, tempFile) == 0) {
    PrimitiveLogger::Log(kTag, "Failed to get temp file name:  %lu", GetLastError());
    return {};
  }

  fs::path path(AnsiToWide(tempFile));
  fs::remove(path);
  path.replace_extension(AnsiToWide(extension));
  return WideToAnsi(path.wstring());
}
