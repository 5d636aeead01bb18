#include "system/system_library.h"

#include <cstring>

#include "logging/primitive_logger.h"
#include "system/system_constants.h"

using namespace system_constants;

namespace {

constexpr char kFreeTag[] = "SystemLibrary::Free";

// `fileName` in the system folder, written into `path`; false (with the error
// set) when the folder cannot be read or the whole path does not fit.
bool SystemFolderFile(const char* fileName, char (&path)[kSystemLibraryPathSize]) {
  const UINT length = GetSystemDirectoryA(path, kSystemLibraryPathSize);
  if (length == 0) return false;
  const size_t nameLength = std::strlen(fileName);
  if (length + 1 + nameLength >= kSystemLibraryPathSize) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return false;
  }
  path[length] = '\\';
  std::memcpy(path + length + 1, fileName, nameLength + 1);
  return true;
}

}  // namespace

void SystemLibrary::LibraryTraits::Close(HMODULE module) noexcept {
  if (!FreeLibrary(module)) {
    PrimitiveLogger::Log(kFreeTag, "FreeLibrary() failed, error: 0x%x",
                         static_cast<unsigned>(GetLastError()));
  }
}

SystemLibrary SystemLibrary::Load(const char* fileName, LogSite site) noexcept {
  SystemLibrary library;
  library.site_ = site;
  HMODULE module = LoadLibraryExA(fileName, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
  if (module == nullptr) {
    DWORD error = GetLastError();
    PrimitiveLogger::Log(site.tag, "%sLoadLibraryEx(\"%s\") failed, error: 0x%x", site.prefix,
                         fileName, static_cast<unsigned>(error));
    // Windows 7 without its loader update rejects the search flag
    // (ERROR_INVALID_PARAMETER), and only there is the library loaded
    // another way: by its full path, since the bare name would search the
    // program's own folder first. Any other failure is the answer.
    char path[kSystemLibraryPathSize] = {};
    if (error == ERROR_INVALID_PARAMETER && SystemFolderFile(fileName, path)) {
      module = LoadLibraryA(path);
      if (module == nullptr) {
        error = GetLastError();
        PrimitiveLogger::Log(site.tag, "%sLoadLibrary(\"%s\") failed, error: 0x%x", site.prefix,
                             fileName, static_cast<unsigned>(error));
      }
    }
    // A failure that named no error must still read as one.
    if (module == nullptr) library.error_ = error != ERROR_SUCCESS ? error : ERROR_MOD_NOT_FOUND;
  }
  library.module_.reset(module);
  return library;
}

FARPROC SystemLibrary::Find(const char* functionName) const noexcept {
  if (!module_) return nullptr;
  const FARPROC function = GetProcAddress(module_.get(), functionName);
  if (function == nullptr) {
    PrimitiveLogger::Log(site_.tag, "%sGetProcAddress(hInst, \"%s\") failed, error: 0x%x",
                         site_.prefix, functionName, static_cast<unsigned>(GetLastError()));
  }
  return function;
}

FARPROC SystemLibrary::Find(WORD ordinal) const noexcept {
  if (!module_) return nullptr;
  const FARPROC function = GetProcAddress(module_.get(), MAKEINTRESOURCEA(ordinal));
  if (function == nullptr) {
    PrimitiveLogger::Log(
        site_.tag, "%sGetProcAddress(hInst, MAKEINTRESOURCE(%u)) failed, error: 0x%x", site_.prefix,
        static_cast<unsigned>(ordinal), static_cast<unsigned>(GetLastError()));
  }
  return function;
}
