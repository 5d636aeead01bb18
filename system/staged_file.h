// A file written once under a fresh name and then held, so that others may
// read and run it but nobody may change, replace or delete it until its
// owner is done with it; the owner deletes it then.
#pragma once

#include <windows.h>

#include <functional>
#include <optional>
#include <string>

#include "logging/win32_result.h"
#include "system/qv_file_lock.h"

class StagedFile {
 public:
  // Fills the new file through `file` (opened for writing, shared with
  // nobody); `path` is for the log.
  using Writer = std::function<Win32Result(HANDLE file, const std::string& path)>;

  // Names a new file in `folder` (narrow, ending in a backslash) after
  // `prefix` and `extension`, creates it (never opening an existing one),
  // lets `write` fill it, closes it and holds it (QVFileLock) in `staged`.
  // Each step logs its own failure; a partly written file is deleted again.
  // Never throws.
  static Win32Result Create(const std::string& folder, const std::string& prefix,
                            const std::string& extension, const Writer& write,
                            std::optional<StagedFile>& staged);

  // Releases the hold and deletes the file, unless it is kept. Never throws.
  ~StagedFile();
  StagedFile(StagedFile&& other) noexcept;
  StagedFile& operator=(StagedFile&&) = delete;
  StagedFile(const StagedFile&) = delete;
  StagedFile& operator=(const StagedFile&) = delete;

  const std::string& path() const { return path_; }
  // Bytes written; 0 when the size could not be read.
  ULONGLONG size() const { return size_; }

  // The file stays where it is when the owner goes (the hold is released).
  void Keep() { keep_ = true; }

 private:
  StagedFile(std::string path, ULONGLONG size, QVFileLock hold);

  std::string path_;
  ULONGLONG size_ = 0;
  std::optional<QVFileLock> hold_;
  bool keep_ = false;
};
