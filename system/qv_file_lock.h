// Holds an installer file open so that nobody can change, replace or delete
// it between its signature check and its run.
#pragma once

#include <windows.h>

#include <string>

#include "logging/owners.h"

namespace qv_file_lock_detail {
inline constexpr char kReleaseTag[] = "QVFileLock::~QVFileLock";
inline constexpr char kReleaseFailed[] = "CloseHandle Failed, last Error: %lu";
}  // namespace qv_file_lock_detail

class QVFileLock {
 public:
  // Opens the file for reading with read sharing only: others may still read
  // and execute it, but every open for writing or deleting fails. Throws
  // std::runtime_error "File Not Found" for an empty path or a missing file
  // and "CreateFile" when the file cannot be opened so; a failure to read the
  // file's status escapes as FileSysUtils::FileSystemError.
  explicit QVFileLock(const std::string& path);
  QVFileLock(QVFileLock&&) noexcept = default;
  QVFileLock& operator=(QVFileLock&&) noexcept = default;

 private:
  // The lock is the handle's one owner; its own close message is part of
  // the log's record of the install. Released on destruction; never throws.
  OwnWordsHandle<qv_file_lock_detail::kReleaseTag, qv_file_lock_detail::kReleaseFailed> handle_;
};
