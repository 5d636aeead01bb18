#include "system/file_sys_utils.h"

#include <cstring>
#include <memory>

#include "logging/primitive_logger.h"
#include "logging/owners.h"
#include "logging/ansi_text.h"
#include "system/folder_tree.h"

namespace {

constexpr char kDeleteTag[] = "FileSysUtils::DeleteIfExists";

// The errors that say "nothing there": a missing entry, a missing folder (or
// drive) on the way, a file where a folder was expected, an invalid name.
bool IsNotFound(DWORD error) {
  switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_DRIVE:
    case ERROR_INVALID_NAME:
    case ERROR_BAD_PATHNAME:
    case ERROR_DIRECTORY:
    case ERROR_FILENAME_EXCED_RANGE:
      return true;
    default:
      return false;
  }
}

// The system's text for `error` without its closing ".\r\n", or "Unknown
// error code", in the user's default language, as the C++ runtime's system
// error category gives it, so that the log lines of these errors read as
// they always have. Unlike the runtime, inserts are left as they are: a
// message with %1 and no arguments would otherwise read memory that is not
// there.
std::string SystemMessage(DWORD error) {
  UniqueLocalMemory text;
  const DWORD length = FormatMessageA(
      FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, error, LANG_USER_DEFAULT, reinterpret_cast<char*>(text.put()), 0, nullptr);
  if (length == 0) return "Unknown error code";
  const char* message = static_cast<const char*>(text.get());
  const bool closingStop = length > 3 && memcmp(message + length - 3, ".\r\n", 3) == 0;
  return std::string(message, closingStop ? length - 3 : length);
}

bool IsFolder(DWORD attributes) { return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0; }

// A symbolic link, a junction or a mount point: its target is another
// entry, which a removal must never reach.
bool IsLink(DWORD attributes) { return (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0; }

// "filesystem error: <operation> [<path>]: <system message>", the text the
// log has always shown for these errors.
std::string ErrorText(const std::string& operationAndPath, DWORD error) {
  return "filesystem error: " + operationAndPath + ": " + SystemMessage(error);
}

// Where a removal failed: the entry, and the system's error.
struct RemovalFailure {
  std::wstring path;
  DWORD error = ERROR_SUCCESS;
};

bool Failed(const std::wstring& path, DWORD error, RemovalFailure& failure) {
  failure = {path, error};
  return false;
}

// Removes one entry that has no content to walk: a file, an empty folder,
// or a link itself (RemoveDirectoryW on a folder link or junction removes
// the link and leaves its target alone; DeleteFileW on a file link likewise).
bool RemoveEntry(const std::wstring& path, DWORD attributes, RemovalFailure& failure) {
  const BOOL removed =
      IsFolder(attributes) ? RemoveDirectoryW(path.c_str()) : DeleteFileW(path.c_str());
  return removed || Failed(path, GetLastError(), failure);
}

// Removes `path` and, for a real folder, everything in it. Links are
// removed, never entered.
bool RemoveTree(const std::wstring& path, RemovalFailure& failure) {
  const DWORD attributes = GetFileAttributesW(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return Failed(path, GetLastError(), failure);
  if (IsFolder(attributes) && !IsLink(attributes)) {
    const Win32Result emptied = ForEachEntry(
        path, nullptr, [&failure](const WIN32_FIND_DATAW&, const std::wstring& inside) {
          return RemoveTree(inside, failure) ? Win32Result::Ok()
                                             : Win32Result::Failed(failure.error);
        });
    // A failure below names its own entry; the listing's is the folder's.
    if (!emptied) return failure.path.empty() ? Failed(path, emptied.error(), failure) : false;
  }
  return RemoveEntry(path, attributes, failure);
}

// Removes what stands at `path` (when anything does) with `removal`, and
// logs a failure, or what the existence test threw, as the file-system
// operations always have. False when it failed.
template <typename Removal>
bool LoggedRemoval(const std::string& path, const char* operation, Removal removal) {
  try {
    if (!FileSysUtils::Exists(path)) return true;
    RemovalFailure failure;
    if (removal(failure)) return true;
    FileSysUtils::LogFileSystemException(
        kDeleteTag, FileSysUtils::FileSystemError(
                        std::string(operation) + " [" + WideToAnsi(failure.path) + "]",
                        failure.error));
  } catch (const std::exception& error) {
    FileSysUtils::LogFileSystemException(kDeleteTag, error);
  }
  return false;
}

// A trailing separator would make the entry's own removal fail.
std::wstring WithoutTrailingSeparator(std::wstring path) {
  while (path.size() > 3 && (path.back() == L'\\' || path.back() == L'/')) path.pop_back();
  return path;
}

}  // namespace

namespace FileSysUtils {

FileSystemError::FileSystemError(const std::string& operationAndPath, DWORD error)
    : std::runtime_error(ErrorText(operationAndPath, error)), code_(static_cast<int>(error)) {}

void LogFileSystemException(const char* tag, const std::exception& error) {
  if (const auto* fileSystemError = dynamic_cast<const FileSystemError*>(&error)) {
    PrimitiveLogger::Log(tag, "FileSystem Error (%d) in FS op:  %s", fileSystemError->code(),
                         error.what());
  } else {
    PrimitiveLogger::Log(tag, "Exception in FS op:  %s", error.what());
  }
}

bool Exists(const std::string& path) {
  if (path.empty()) return false;
  const std::wstring widePath = AnsiToWide(path);
  const DWORD attributes = GetFileAttributesW(widePath.c_str());
  DWORD error = ERROR_SUCCESS;
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    error = GetLastError();
  } else if (IsLink(attributes)) {
    // A link at the end of the path counts by its target. Opening it
    // without any access right follows it and conflicts with no other
    // opener.
    const UniqueHandle target(
        CreateFileW(widePath.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (!target) error = GetLastError();
  }
  if (error == ERROR_SUCCESS) return true;
  if (IsNotFound(error)) return false;
  // The one failure that is thrown (the caller's flow catches it): an
  // entry that may exist but cannot be seen must not read as missing.
  throw FileSystemError("exists [" + path + "]", error);
}

bool DeleteIfExists(const std::string& path) {
  PrimitiveLogger::Log(kDeleteTag, ">>>");
  return LoggedRemoval(path, "remove_all", [&path](RemovalFailure& failure) {
    return RemoveTree(WithoutTrailingSeparator(AnsiToWide(path)), failure);
  });
}

bool DeleteFileOrEmptyFolder(const std::string& path) {
  PrimitiveLogger::Log(kDeleteTag, ">>>");
  return LoggedRemoval(path, "remove", [&path](RemovalFailure& failure) {
    const std::wstring widePath = WithoutTrailingSeparator(AnsiToWide(path));
    const DWORD attributes = GetFileAttributesW(widePath.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return Failed(widePath, GetLastError(), failure);
    if (IsFolder(attributes) && !IsLink(attributes)) {
      // Removed only when empty; nothing inside a folder is ever touched.
      if (RemoveDirectoryW(widePath.c_str())) return true;
      const DWORD error = GetLastError();
      if (error == ERROR_DIR_NOT_EMPTY) {
        PrimitiveLogger::Log(kDeleteTag, "Refused to delete %s: a folder with content",
                             path.c_str());
      }
      return Failed(AnsiToWide(path), error, failure);
    }
    return RemoveEntry(widePath, attributes, failure);
  });
}

}  // namespace FileSysUtils

void CleanUpFile(const std::string& path) {
  if (!FileSysUtils::DeleteFileOrEmptyFolder(path)) {
    PrimitiveLogger::Log("CleanUpFile", "Clean-up of %s failed", path.c_str());
  }
}
