#include "system/file_sys_utils.h"

#include <filesystem>
#include <system_error>

#include "logging/primitive_logger.h"
#include "system/ansi_text.h"

namespace fs = std::filesystem;

namespace {

constexpr char kDeleteTag[] = "FileSysUtils::DeleteIfExists";

}  // namespace

namespace FileSysUtils {

bool Exists(const std::string& path) {
  const fs::path target(AnsiToWide(path));
  std::error_code error;
  const bool found = fs::exists(target, error);
  if (!error) return found;
  // The C runtime beneath the library reports a syntactically invalid name
  // (ERROR_INVALID_NAME) as EINVAL: such a name names nothing.
  if (error == std::errc::invalid_argument) return false;
  // Thrown under the operation's own name; fs::exists(path) would name the
  // status query instead.
  throw fs::filesystem_error("exists", target, error);
}

bool DeleteIfExists(const std::string& path) {
  PrimitiveLogger::Log(kDeleteTag, ">>>");
  try {
    if (!Exists(path)) return true;
    return fs::remove_all(fs::path(AnsiToWide(path))) != 0;
  } catch (const fs::filesystem_error& error) {
    PrimitiveLogger::Log(kDeleteTag, "FileSystem Error (%d) in FS op:  %s", error.code().value(),
                         error.what());
  } catch (const std::exception& error) {
    PrimitiveLogger::Log(kDeleteTag, "Exception in FS op:  %s", error.what());
  }
  return false;
}

}  // namespace FileSysUtils

void CleanUpFile(const std::string& path) {
  if (!FileSysUtils::DeleteIfExists(path)) {
    PrimitiveLogger::Log("CleanUpFile", "Clean-up of %s failed", path.c_str());
  }
}
