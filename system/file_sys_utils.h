// Tests for, deletes and cleans up file-system entries named by narrow
// (ANSI code page) paths. Every path reaches the wide Windows calls through
// the program's own ANSI conversion.
#pragma once

#include <windows.h>

#include <exception>
#include <stdexcept>
#include <string>

namespace FileSysUtils {

// A file-system operation that failed with a system error. Its text keeps
// the form the log has always shown, "filesystem error: <operation>
// [<path>]: <system message>"; code() is the system error code.
class FileSystemError : public std::runtime_error {
 public:
  FileSystemError(const std::string& operationAndPath, DWORD error);

  int code() const noexcept { return code_; }

 private:
  int code_;
};

// Whether `path` names an existing file, folder or link target. A missing
// entry, a missing folder on the way and an invalid name give false; any
// other failure (an unreachable network share, a denied access) is thrown as
// FileSystemError.
bool Exists(const std::string& path);

// Removes the file or the whole folder tree at `path`. A link or junction
// met on the way is removed itself; what it points at is never entered.
// True when the path did not exist or at least one entry was removed; false
// when nothing was removed or an error occurred (logged). Never throws a
// standard exception.
bool DeleteIfExists(const std::string& path);

// Removes the file, or the empty folder, at `path`, and nothing below it:
// a folder with content is refused (logged), whatever planted it there.
// True when the path did not exist or was removed. Never throws a standard
// exception.
bool DeleteFileOrEmptyFolder(const std::string& path);

// Logs what a file-system operation threw, under `tag`: "FileSystem Error
// (%d) in FS op:  %s" with the system error code for a FileSystemError,
// "Exception in FS op:  %s" for any other.
void LogFileSystemException(const char* tag, const std::exception& error);

}  // namespace FileSysUtils

// Deletes an installer file a flow no longer needs and logs when that fails.
// Never deletes below the path: an installer path that has become a folder
// with content, or a junction to one, is refused.
void CleanUpFile(const std::string& path);
