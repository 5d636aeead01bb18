#include "system/file_sys_utils.h"

#include <cstring>
#include <memory>

#include "logging/primitive_logger.h"
#include "logging/handle_traits.h"
#include "logging/unique_any.h"
#include "logging/unique_handle.h"
#include "logging/ansi_text.h"

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
  UniqueAny<NullableTraits<HLOCAL, LocalFree>> text;
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

// The entry's own attributes (a link's, not its target's); throws for
// `operation` when they cannot be read.
DWORD AttributesOrThrow(const char* operation, const std::wstring& path) {
  const DWORD attributes = GetFileAttributesW(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    FileSysUtils::ThrowFileSystemError(operation, WideToAnsi(path), GetLastError());
  }
  return attributes;
}

// Removes one entry that has no content to walk: a file, an empty folder,
// or a link itself (RemoveDirectoryW on a folder link or junction removes
// the link and leaves its target alone; DeleteFileW on a file link likewise).
void RemoveEntry(const char* operation, const std::wstring& path, DWORD attributes) {
  const BOOL removed =
      IsFolder(attributes) ? RemoveDirectoryW(path.c_str()) : DeleteFileW(path.c_str());
  if (!removed) FileSysUtils::ThrowFileSystemError(operation, WideToAnsi(path), GetLastError());
}

struct FindTraits : KernelHandleTraits {
  static void Close(Value find) noexcept { FindClose(find); }
};

// Removes `path` and, for a real folder, everything in it; returns how
// many entries went. Links are removed, never entered.
uintmax_t RemoveTree(const std::wstring& path) {
  constexpr char kOperation[] = "remove_all";
  const DWORD attributes = AttributesOrThrow(kOperation, path);
  uintmax_t removed = 0;
  if (IsFolder(attributes) && !IsLink(attributes)) {
    WIN32_FIND_DATAW entry = {};
    const std::wstring pattern = path + L"\\*";
    UniqueAny<FindTraits> find(FindFirstFileW(pattern.c_str(), &entry));
    if (!find) {
      FileSysUtils::ThrowFileSystemError(kOperation, WideToAnsi(path), GetLastError());
    }
    do {
      const std::wstring name = entry.cFileName;
      if (name == L"." || name == L"..") continue;
      removed += RemoveTree(path + L"\\" + name);
    } while (FindNextFileW(find.get(), &entry));
    const DWORD error = GetLastError();
    if (error != ERROR_NO_MORE_FILES) {
      FileSysUtils::ThrowFileSystemError(kOperation, WideToAnsi(path), error);
    }
  }
  RemoveEntry(kOperation, path, attributes);
  return removed + 1;
}

// Runs a removal, turning what it throws into the log lines of the
// file-system operations; false when it threw.
template <typename Removal>
bool LoggedRemoval(Removal removal) {
  try {
    return removal();
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
    : std::runtime_error("filesystem error: " + operationAndPath + ": " + SystemMessage(error)),
      code_(static_cast<int>(error)) {}

void LogFileSystemException(const char* tag, const std::exception& error) {
  if (const auto* fileSystemError = dynamic_cast<const FileSystemError*>(&error)) {
    PrimitiveLogger::Log(tag, "FileSystem Error (%d) in FS op:  %s", fileSystemError->code(),
                         error.what());
  } else {
    PrimitiveLogger::Log(tag, "Exception in FS op:  %s", error.what());
  }
}

void ThrowFileSystemError(const char* operation, const std::string& path, DWORD error) {
  // The narrow path goes into the message as it is, in the ANSI code page.
  throw FileSystemError(std::string(operation) + " [" + path + "]", error);
}

bool Exists(const std::string& path) {
  if (path.empty()) return false;
  const std::wstring widePath = AnsiToWide(path);
  const DWORD attributes = GetFileAttributesW(widePath.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    const DWORD error = GetLastError();
    if (IsNotFound(error)) return false;
    ThrowFileSystemError("exists", path, error);
  }
  if (!IsLink(attributes)) return true;

  // A link at the end of the path counts by its target. Opening it without
  // any access right follows it and conflicts with no other opener.
  UniqueHandle target(CreateFileW(widePath.c_str(), 0,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  if (target) return true;
  const DWORD error = GetLastError();
  if (IsNotFound(error)) return false;
  ThrowFileSystemError("exists", path, error);
}

bool DeleteIfExists(const std::string& path) {
  PrimitiveLogger::Log(kDeleteTag, ">>>");
  return LoggedRemoval([&path] {
    if (!Exists(path)) return true;
    return RemoveTree(WithoutTrailingSeparator(AnsiToWide(path))) != 0;
  });
}

bool DeleteFileOrEmptyFolder(const std::string& path) {
  PrimitiveLogger::Log(kDeleteTag, ">>>");
  return LoggedRemoval([&path] {
    if (!Exists(path)) return true;
    const std::wstring widePath = WithoutTrailingSeparator(AnsiToWide(path));
    const DWORD attributes = AttributesOrThrow("remove", widePath);
    if (IsFolder(attributes) && !IsLink(attributes)) {
      // Removed only when empty; nothing inside a folder is ever touched.
      if (RemoveDirectoryW(widePath.c_str())) return true;
      const DWORD error = GetLastError();
      if (error == ERROR_DIR_NOT_EMPTY) {
        PrimitiveLogger::Log(kDeleteTag, "Refused to delete %s: a folder with content",
                             path.c_str());
      }
      ThrowFileSystemError("remove", path, error);
    }
    RemoveEntry("remove", widePath, attributes);
    return true;
  });
}

}  // namespace FileSysUtils

void CleanUpFile(const std::string& path) {
  if (!FileSysUtils::DeleteFileOrEmptyFolder(path)) {
    PrimitiveLogger::Log("CleanUpFile", "Clean-up of %s failed", path.c_str());
  }
}
