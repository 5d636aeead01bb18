#include "logging/log_file.h"

#include <windows.h>
#include <fcntl.h>
#include <io.h>
#include <shlobj.h>

#include <cerrno>

#include "logging/unique_any.h"

namespace {

// Why an opened log file is not one to append to: a link planted in the
// shared folder would make the writer append to another user's file.
const char* LinkProblem(const BY_HANDLE_FILE_INFORMATION& info) {
  if ((info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) return "it is a reparse point";
  if ((info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) return "it is a folder";
  if (info.nNumberOfLinks > 1) return "it has more than one hard link";
  return nullptr;
}

}  // namespace

Win32Result CreateLogFolder(const std::string& folder) {
  const int created = SHCreateDirectoryExA(nullptr, folder.c_str(), nullptr);
  if (created != ERROR_SUCCESS && created != ERROR_ALREADY_EXISTS && created != ERROR_FILE_EXISTS) {
    return Win32Result::Failed(static_cast<DWORD>(created));
  }
  // Both "exists" answers come as well when a file holds the folder's name.
  const std::string name = folder.substr(0, folder.find_last_not_of('\\') + 1);
  const DWORD attributes = GetFileAttributesA(name.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return Win32Result::LastError();
  return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ? Win32Result::Ok()
                                                      : Win32Result::Failed(ERROR_DIRECTORY);
}

FILE* OpenLogFileForAppend(const std::string& path, int* error) {
  *error = 0;
  // FILE_FLAG_OPEN_REPARSE_POINT opens a link itself instead of its target;
  // share mode 0 keeps other processes out while the run holds the file.
  SilentHandle file(CreateFileA(path.c_str(), GENERIC_READ | FILE_APPEND_DATA, 0, nullptr,
                                OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT,
                                nullptr));
  if (!file.valid()) {
    *error = GetLastError() == ERROR_SHARING_VIOLATION ? EACCES : ENOENT;
    return nullptr;
  }

  BY_HANDLE_FILE_INFORMATION info = {};
  if (!GetFileInformationByHandle(file.get(), &info) || LinkProblem(info) != nullptr) {
    *error = EACCES;
    return nullptr;
  }

  const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(file.get()), _O_APPEND | _O_TEXT);
  if (fd == -1) {
    *error = errno;
    return nullptr;
  }
  file.release();  // the descriptor owns the handle now

  FILE* stream = _fdopen(fd, "a+");
  if (stream == nullptr) {
    *error = errno;
    _close(fd);
  }
  return stream;
}

std::string LogTargetProblem(const std::string& path) {
  const size_t separator = path.find_last_of('\\');
  if (separator != std::string::npos && separator > 0) {
    const Win32Result made = CreateLogFolder(path.substr(0, separator + 1));
    if (!made) return "its folder cannot be created (error " + std::to_string(made.error()) + ")";
  }
  // Shared with everyone: another run may be writing to it, and the program
  // opens it after this handle is gone. A folder opens too (backup
  // semantics), so that it is named as what it is.
  SilentHandle file(CreateFileA(
      path.c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
      nullptr, OPEN_ALWAYS,
      FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  if (!file.valid()) {
    return "it cannot be opened (error " + std::to_string(GetLastError()) + ")";
  }
  BY_HANDLE_FILE_INFORMATION info = {};
  if (!GetFileInformationByHandle(file.get(), &info)) {
    return "it cannot be examined (error " + std::to_string(GetLastError()) + ")";
  }
  const char* problem = LinkProblem(info);
  return problem != nullptr ? problem : "";
}
