#include "system/staged_file.h"

#include <exception>
#include <utility>

#include "logging/primitive_logger.h"
#include "logging/unique_handle.h"
#include "system/file_sys_utils.h"
#include "system/system_constants.h"
#include "system/temp_installer_path.h"

namespace {

constexpr char kTag[] = "StagedFile::Create";

// A new file of a fresh name in `folder`, open for writing and shared with
// nobody. CREATE_NEW never opens what another program put there first.
UniqueHandle CreateNewFile(const std::string& folder, const std::string& prefix,
                           const std::string& extension, std::string& path, DWORD& error) {
  for (int attempt = 0; attempt < system_constants::kStagedNameAttempts; ++attempt) {
    path = UniqueInstallerName(folder, prefix, extension, error);
    if (path.empty()) return UniqueHandle();
    UniqueHandle file(CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
    if (file) return file;
    error = GetLastError();
    PrimitiveLogger::Log(kTag, "Unable to create %s:  %lu", path.c_str(), error);
    if (error != ERROR_FILE_EXISTS) break;
  }
  path.clear();
  return UniqueHandle();
}

// What a failed write left behind goes at once: a partial installer is of
// no use, and on a full disk its space is what the rest of the run needs.
void RemovePartialFile(const std::string& path) {
  if (!DeleteFileA(path.c_str())) {
    PrimitiveLogger::Log(kTag, "Unable to delete the partly written %s:  %lu", path.c_str(),
                         GetLastError());
  }
}

}  // namespace

std::optional<StagedFile> StagedFile::Create(const std::string& folder, const std::string& prefix,
                                             const std::string& extension, const Writer& write,
                                             DWORD& error) {
  error = ERROR_SUCCESS;
  std::string path;
  LARGE_INTEGER size{};
  {
    UniqueHandle file = CreateNewFile(folder, prefix, extension, path, error);
    if (!file) return std::nullopt;
    bool written = false;
    try {
      written = write(file.get(), path);
      if (!written) error = GetLastError() != ERROR_SUCCESS ? GetLastError() : ERROR_WRITE_FAULT;
    } catch (const std::exception& thrown) {
      PrimitiveLogger::Log(kTag, "Exception while writing %s:  %s", path.c_str(), thrown.what());
      error = ERROR_WRITE_FAULT;
    }
    if (written && !FlushFileBuffers(file.get())) {
      error = GetLastError();
      PrimitiveLogger::Log(kTag, "Unable to flush %s:  %lu", path.c_str(), error);
      written = false;
    }
    if (written && !GetFileSizeEx(file.get(), &size)) {
      PrimitiveLogger::Log(kTag, "Unable to read the size of %s:  %lu", path.c_str(),
                           GetLastError());
      size.QuadPart = 0;
    }
    file.reset();
    if (!written) {
      RemovePartialFile(path);
      return std::nullopt;
    }
  }

  // The writer's handle is gone before the hold is taken, since the hold
  // shares reading only. What is checked and run later is what this hold
  // keeps unchanged from here on.
  try {
    QVFileLock hold(path);
    return StagedFile(std::move(path), static_cast<ULONGLONG>(size.QuadPart), std::move(hold));
  } catch (const std::exception&) {
    error = GetLastError() != ERROR_SUCCESS ? GetLastError() : ERROR_SHARING_VIOLATION;
  }
  CleanUpFile(path);
  return std::nullopt;
}

StagedFile::StagedFile(std::string path, ULONGLONG size, QVFileLock hold)
    : path_(std::move(path)), size_(size), hold_(std::move(hold)) {}

StagedFile::StagedFile(StagedFile&& other) noexcept
    : path_(std::move(other.path_)),
      size_(other.size_),
      hold_(std::move(other.hold_)),
      keep_(other.keep_) {
  other.path_.clear();
  other.hold_.reset();
}

StagedFile::~StagedFile() {
  hold_.reset();
  if (path_.empty() || keep_) return;
  try {
    CleanUpFile(path_);
  } catch (...) {
    // The clean-up logs its own failures; a destructor has nowhere to report.
  }
}
