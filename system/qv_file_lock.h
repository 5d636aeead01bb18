// Holds an installer file open so that nobody can change, replace or delete
// it between its signature check and its run.
#pragma once

#include <windows.h>

#include <string>

class QVFileLock {
 public:
  // Opens the file for reading with read sharing only: others may still read
  // and execute it, but every open for writing or deleting fails. Throws
  // std::runtime_error "File Not Found" for an empty path or a missing file
  // and "CreateFile" when the file cannot be opened so; a failure to read the
  // file's status escapes as FileSysUtils::FileSystemError.
  explicit QVFileLock(const std::string& path);
  // Releases the file; never throws.
  ~QVFileLock();

  QVFileLock(const QVFileLock&) = delete;
  QVFileLock& operator=(const QVFileLock&) = delete;

 private:
  HANDLE handle_ = INVALID_HANDLE_VALUE;
};
