#include "system/small_file.h"

#include "logging/ansi_text.h"
#include "logging/primitive_logger.h"
#include "logging/owners.h"
#include "system/folder_tree.h"

namespace {

constexpr wchar_t kNewSuffix[] = L".new";

Win32Result Logged(const char* tag, const char* what, const std::wstring& path, DWORD error) {
  PrimitiveLogger::Log(tag, "%s %s:  %lu", what, WideToAnsi(path).c_str(), error);
  return Win32Result::Failed(error);
}

}  // namespace

Win32Result WriteFileWhole(const std::wstring& path, const std::string& bytes, const char* tag) {
  const std::wstring fresh = path + kNewSuffix;
  {
    UniqueHandle file(CreateFileW(fresh.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return Logged(tag, "Unable to write", fresh, GetLastError());
    DWORD written = 0;
    if (!WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) ||
        written != bytes.size() || !FlushFileBuffers(file.get())) {
      const DWORD error = GetLastError();
      file.reset();
      DeleteFileW(fresh.c_str());
      return Logged(tag, "Unable to write", fresh, error);
    }
  }
  if (!MoveFileExW(fresh.c_str(), path.c_str(),
                   MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    const DWORD error = GetLastError();
    DeleteFileW(fresh.c_str());
    return Logged(tag, "Unable to replace", path, error);
  }
  return Win32Result::Ok();
}

Win32Result ReadSmallFile(const std::wstring& path, DWORD limitBytes, std::string& bytes,
                          const char* tag) {
  bytes.clear();
  // Opened as what stands at the name: a link is not followed, and is then
  // seen in the attributes below.
  UniqueHandle file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  if (!file) return Logged(tag, "Unable to open", path, GetLastError());
  BY_HANDLE_FILE_INFORMATION info = {};
  if (!GetFileInformationByHandle(file.get(), &info)) {
    return Logged(tag, "Unable to read the attributes of", path, GetLastError());
  }
  if ((info.dwFileAttributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY)) != 0 ||
      info.nNumberOfLinks > 1) {
    return Logged(tag, "Not a file of its own, refused:", path, kErrorLinkRefused);
  }
  if (info.nFileSizeHigh != 0 || info.nFileSizeLow > limitBytes) {
    return Logged(tag, "Too large, refused:", path, ERROR_FILE_TOO_LARGE);
  }
  bytes.resize(info.nFileSizeLow);
  DWORD read = 0;
  if (!ReadFile(file.get(), bytes.data(), info.nFileSizeLow, &read, nullptr) ||
      read != info.nFileSizeLow) {
    bytes.clear();
    return Logged(tag, "Unable to read", path, GetLastError());
  }
  return Win32Result::Ok();
}
