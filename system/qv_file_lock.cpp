#include "system/qv_file_lock.h"

#include <stdexcept>

#include "logging/primitive_logger.h"
#include "system/file_sys_utils.h"

namespace {

// Readers are let in: Windows Installer and process creation open the file
// for reading and executing while the lock is held.
constexpr DWORD kLockAccess = GENERIC_READ;
constexpr DWORD kLockSharing = FILE_SHARE_READ;

}  // namespace

QVFileLock::QVFileLock(const std::string& path) {
  constexpr char kTag[] = "QVFileLock::QVFileLock";
  if (path.empty() || !FileSysUtils::Exists(path)) {
    PrimitiveLogger::Log(kTag, "File: '%s' not found", path.c_str());
    throw std::runtime_error("File Not Found");
  }
  handle_.reset(CreateFileA(path.c_str(), kLockAccess, kLockSharing, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!handle_) {
    PrimitiveLogger::Log(kTag, "CreateFile Failed for file: '%s', last Error: %lu", path.c_str(),
                         GetLastError());
    throw std::runtime_error("CreateFile");
  }
}
