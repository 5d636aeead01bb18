#include "system/temp_installer_path.h"

#include <optional>

#include "logging/ansi_text.h"
#include "logging/primitive_logger.h"
#include "system/system_constants.h"

using namespace system_constants;

namespace {

// The temporary folder's and the name's failures are logged under the name
// the temporary installer names have always been logged under.
constexpr char kTag[] = "GetTempPathForUnSafeInstaller";

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

// A %NAME% left as it is: a variable stored unexpanded (REG_SZ instead of
// REG_EXPAND_SZ) that the system took literally, so the folder is a relative
// one under whatever the current directory is.
bool HoldsUnexpandedVariable(const std::wstring& folder) {
  const size_t first = folder.find(L'%');
  return first != std::wstring::npos && folder.find(L'%', first + 1) != std::wstring::npos;
}

}  // namespace

Win32Result UserTempFolder(std::wstring& folder) {
  folder.clear();
  wchar_t buffer[kTempPathBufferSize] = {};
  const DWORD length = GetTempPathW(kTempPathBufferSize, buffer);
  // A folder that does not fit is not copied; an empty folder would put the
  // installer into the current directory instead.
  const Win32Result read = length == 0 ? Win32Result::LastError()
                           : length >= kTempPathBufferSize
                               ? Win32Result::Failed(ERROR_INSUFFICIENT_BUFFER)
                               : Win32Result::Ok();
  if (!read) {
    PrimitiveLogger::Log(kTag, "Failed to get temp dir:  %lu", read.error());
    return read;
  }
  folder.assign(buffer, length);
  return read;
}

std::string InstallerFolderProblem(const std::wstring& folder, std::string& narrow) {
  narrow.clear();
  if (HoldsUnexpandedVariable(folder)) return "holds an unexpanded variable";
  // GetTempFileName takes a folder of at most MAX_PATH - 14 characters: the
  // name it adds and the NUL must fit in MAX_PATH. Longer folders never reach
  // a file call.
  if (folder.size() > kTempFolderMaxLength) {
    return "is too long for a temporary name (" + std::to_string(folder.size()) +
           " characters; at most " + std::to_string(kTempFolderMaxLength) + ")";
  }
  const std::optional<std::string> exact = WideToAnsiExact(folder);
  if (!exact) {
    return "cannot be written in the ANSI code page (" + std::to_string(GetACP()) + ")";
  }
  const DWORD attributes = GetFileAttributesW(folder.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    return "cannot be used (error " + std::to_string(GetLastError()) + ")";
  }
  if ((attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) return "is not a folder";
  narrow = *exact;
  return {};
}

Win32Result UniqueInstallerName(const std::string& folder, const std::string& prefix,
                                const std::string& extension, std::string& name) {
  name.clear();
  // GetTempFileNameA returns the number it put into the name, and any number
  // but 0 is a valid one; it creates an empty placeholder file of that name.
  char placeholder[kTempPathBufferSize] = {};
  const std::string namePrefix = prefix.substr(0, kTempPrefixLength);
  if (GetTempFileNameA(folder.c_str(), namePrefix.c_str(), kTempUniqueSystemPicked, placeholder) ==
      0) {
    const Win32Result failed = Win32Result::LastError();
    PrimitiveLogger::Log(kTag, "Failed to get temp file name:  %lu", failed.error());
    return failed;
  }
  if (!DeleteFileA(placeholder) && GetLastError() != ERROR_FILE_NOT_FOUND) {
    const Win32Result failed = Win32Result::LastError();
    PrimitiveLogger::Log(kTag, "Unable to remove the placeholder %s:  %lu", placeholder,
                         failed.error());
    return failed;
  }
  name = WithExtension(placeholder, extension);
  return Win32Result::Ok();
}
