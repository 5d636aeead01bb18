#include "system/staged_file.h"

#include <exception>
#include <utility>

#include "logging/primitive_logger.h"
#include "logging/owners.h"
#include "system/file_sys_utils.h"
#include "system/system_constants.h"
#include "system/temp_installer_path.h"

namespace {

constexpr char kTag[] = "StagedFile::Create";

// A new file of a fresh name in `folder`, open for writing and shared with
// nobody. CREATE_NEW never opens what another program put there first.
Win32Result CreateNewFile(const std::string& folder, const std::string& prefix,
                          const std::string& extension, std::string& path, UniqueHandle& file) {
  Win32Result created = Win32Result::Ok();
  for (int attempt = 0; attempt < system_constants::kStagedNameAttempts; ++attempt) {
    created = UniqueInstallerName(folder, prefix, extension, path);
    if (!created) return created;
    file.reset(CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                           FILE_ATTRIBUTE_NORMAL, nullptr));
    if (file) return Win32Result::Ok();
    created = Win32Result::LastError();
    PrimitiveLogger::Log(kTag, "Unable to create %s:  %lu", path.c_str(), created.error());
    if (created.error() != ERROR_FILE_EXISTS) break;
  }
  path.clear();
  return created;
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

Win32Result StagedFile::Create(const std::string& folder, const std::string& prefix,
                               const std::string& extension, const Writer& write,
                               std::optional<StagedFile>& staged) {
  staged.reset();
  std::string path;
  LARGE_INTEGER size{};
  {
    UniqueHandle file;
    const Win32Result created = CreateNewFile(folder, prefix, extension, path, file);
    if (!created) return created;
    Win32Result written = Win32Result::Failed(ERROR_WRITE_FAULT);
    try {
      written = write(file.get(), path);
    } catch (const std::exception& thrown) {
      PrimitiveLogger::Log(kTag, "Exception while writing %s:  %s", path.c_str(), thrown.what());
    }
    if (written && !FlushFileBuffers(file.get())) {
      written = Win32Result::LastError();
      PrimitiveLogger::Log(kTag, "Unable to flush %s:  %lu", path.c_str(), written.error());
    }
    if (written && !GetFileSizeEx(file.get(), &size)) {
      PrimitiveLogger::Log(kTag, "Unable to read the size of %s:  %lu", path.c_str(),
                           GetLastError());
      size.QuadPart = 0;
    }
    file.reset();
    if (!written) {
      RemovePartialFile(path);
      return written;
    }
  }

  // The writer's handle is gone before the hold is taken, since the hold
  // shares reading only. What is checked and run later is what this hold
  // keeps unchanged from here on. The hold's construction throws (its
  // contract), with its failure logged.
  Win32Result held = Win32Result::Failed(ERROR_SHARING_VIOLATION);
  try {
    QVFileLock hold(path);
    staged.emplace(
        StagedFile(std::move(path), static_cast<ULONGLONG>(size.QuadPart), std::move(hold)));
    return Win32Result::Ok();
  } catch (const std::exception&) {
    // The lock logged why, and its last error is still the system's.
    const DWORD error = GetLastError();
    held = Win32Result::Failed(error != ERROR_SUCCESS ? error : ERROR_SHARING_VIOLATION);
  }
  CleanUpFile(path);
  return held;
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
