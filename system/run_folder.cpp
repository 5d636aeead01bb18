#include "system/run_folder.h"

#include <cstdio>
#include <utility>

#include "logging/ansi_text.h"
#include "logging/primitive_logger.h"
#include "system/folder_tree.h"
#include "system/known_folders.h"

namespace {

constexpr char kRemoveTag[] = "RunFolder";
// Runs in one process come one after the other; a name taken by another
// process of the same second and id (a reused id) is made anew.
constexpr int kNameAttempts = 5;

std::wstring RootFolder(const std::wstring& root) {
  const std::string base = GetKnownFolderPath(KnownFolder::LocalAppData);
  return base.empty() ? std::wstring() : AnsiToWide(base) + root + L"\\";
}

// "20261209T221500Z-4242-1": the time in UTC, the process, the attempt.
std::wstring FolderName(int attempt) {
  SYSTEMTIME now = {};
  GetSystemTime(&now);
  char name[64] = {};
  snprintf(name, sizeof(name), "%04u%02u%02uT%02u%02u%02uZ-%lu-%d", now.wYear, now.wMonth, now.wDay,
           now.wHour, now.wMinute, now.wSecond, GetCurrentProcessId(), attempt);
  return AnsiToWide(name);
}

// The lock: one handle with no sharing at all, so that any other open of
// the file fails while the run lives.
UniqueHandle OpenLock(const std::wstring& folder, const wchar_t* lockName, DWORD& error) {
  UniqueHandle lock(CreateFileW((folder + lockName).c_str(), GENERIC_READ | GENERIC_WRITE, 0,
                                nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  error = lock ? ERROR_SUCCESS : GetLastError();
  return lock;
}

}  // namespace

RunFolder::~RunFolder() { LetGo(); }

RunFolder::RunFolder(RunFolder&& other) noexcept
    : path_(std::move(other.path_)),
      lock_(std::move(other.lock_)),
      madeAbove_(std::move(other.madeAbove_)),
      keepWhenGone_(other.keepWhenGone_) {
  other.path_.clear();
  other.madeAbove_.clear();
}

RunFolder& RunFolder::operator=(RunFolder&& other) noexcept {
  if (this != &other) {
    LetGo();
    path_ = std::move(other.path_);
    lock_ = std::move(other.lock_);
    madeAbove_ = std::move(other.madeAbove_);
    keepWhenGone_ = other.keepWhenGone_;
    other.path_.clear();
    other.madeAbove_.clear();
  }
  return *this;
}

void RunFolder::LetGo() noexcept {
  if (keepWhenGone_) {
    Keep();
  } else {
    Remove();
  }
}

void RunFolder::Keep() noexcept {
  lock_.reset();
  path_.clear();
  madeAbove_.clear();
}

void RunFolder::Remove() noexcept {
  if (path_.empty()) return;
  lock_.reset();
  try {
    // What is left inside is the run's own; RemoveTree logs what it cannot
    // remove.
    (void)RemoveTree(path_, kRemoveTag);
    for (auto level = madeAbove_.rbegin(); level != madeAbove_.rend(); ++level) {
      if (!RemoveDirectoryW(level->c_str())) break;  // another run's, or in use
    }
  } catch (...) {
    // A destructor has nowhere else to report.
  }
  path_.clear();
  madeAbove_.clear();
}

Win32Result RunFolder::Make(const std::wstring& root, const wchar_t* lockName, RunFolder& folder,
                            const char* tag) {
  const std::string base = GetKnownFolderPath(KnownFolder::LocalAppData);
  if (base.empty()) {
    PrimitiveLogger::Log(tag, "There is no local application-data folder for a run folder");
    return Win32Result::Failed(ERROR_PATH_NOT_FOUND);
  }
  std::vector<std::wstring> made;
  std::wstring parent;
  const Win32Result rooted = MakeFolderChain(AnsiToWide(base), root, made, parent, tag);
  if (!rooted) return rooted;
  for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
    const std::wstring path = parent + FolderName(attempt) + L"\\";
    if (!CreateDirectoryW(path.c_str(), nullptr)) {
      const DWORD error = GetLastError();
      if (error == ERROR_ALREADY_EXISTS) continue;
      PrimitiveLogger::Log(tag, "Unable to make %s:  %lu", WideToAnsi(path).c_str(), error);
      return Win32Result::Failed(error);
    }
    RunFolder fresh;
    fresh.path_ = path;
    fresh.madeAbove_ = made;
    DWORD error = ERROR_SUCCESS;
    fresh.lock_ = OpenLock(path, lockName, error);
    if (!fresh.lock_) {
      PrimitiveLogger::Log(tag, "Unable to lock %s:  %lu", WideToAnsi(path).c_str(), error);
      return Win32Result::Failed(error);  // `fresh` removes the folder
    }
    folder = std::move(fresh);
    return Win32Result::Ok();
  }
  PrimitiveLogger::Log(tag, "No fresh run folder could be named in %s", WideToAnsi(parent).c_str());
  return Win32Result::Failed(ERROR_ALREADY_EXISTS);
}

Win32Result RunFolder::TakeOver(const std::wstring& path, const wchar_t* lockName,
                                RunFolder& folder, const char* tag) {
  DWORD error = ERROR_SUCCESS;
  UniqueHandle lock = OpenLock(path, lockName, error);
  if (!lock) {
    if (error != ERROR_SHARING_VIOLATION) {
      PrimitiveLogger::Log(tag, "Unable to lock %s:  %lu", WideToAnsi(path).c_str(), error);
    }
    return Win32Result::Failed(error);
  }
  folder = RunFolder();
  folder.path_ = path;
  folder.lock_ = std::move(lock);
  return Win32Result::Ok();
}

std::vector<std::wstring> RunFolder::Existing(const std::wstring& root,
                                              std::vector<std::wstring>& refused) {
  std::vector<std::wstring> folders;
  const std::wstring parent = RootFolder(root);
  if (parent.empty() || !IsRealFolder(parent)) return folders;
  // A folder that cannot be listed holds no run folder this run can take.
  (void)ForEachEntry(parent, nullptr, [&](const WIN32_FIND_DATAW& entry, const std::wstring& path) {
    const bool realFolder = (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 &&
                            (entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0;
    (realFolder ? folders : refused).push_back(path + (realFolder ? L"\\" : L""));
    return Win32Result::Ok();
  });
  return folders;
}

void RunFolder::RemoveRootIfEmpty(const std::wstring& root) {
  const std::wstring parent = RootFolder(root);
  if (!parent.empty()) RemoveDirectoryW(parent.c_str());
}
