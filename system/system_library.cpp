#include "system/system_library.h"

#include <cstring>
#include <string>

#include "logging/primitive_logger.h"

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
    if (error == ERROR_INVALID_PARAMETER) {
      char folder[MAX_PATH] = {};
      const UINT length = GetSystemDirectoryA(folder, MAX_PATH);
      if (length == 0 || length + 1 + std::strlen(fileName) >= MAX_PATH) {
        PrimitiveLogger::Log(site.tag, "%sGetSystemDirectory() failed, error: 0x%x", site.prefix,
                             static_cast<unsigned>(length == 0 ? GetLastError()
                                                               : ERROR_INSUFFICIENT_BUFFER));
      } else {
        module = LoadLibraryA((std::string(folder, length) + "\\" + fileName).c_str());
        if (module == nullptr) {
          error = GetLastError();
          PrimitiveLogger::Log(site.tag, "%sLoadLibrary(\"%s\") failed, error: 0x%x",
                               site.prefix, fileName, static_cast<unsigned>(error));
        }
      }
    }
    // A failure that named no error must still read as one.
    if (module == nullptr) library.error_ = error != ERROR_SUCCESS ? error : ERROR_MOD_NOT_FOUND;
  }
  library.module_.reset(module);
  return library;
}

FARPROC SystemLibrary::Find(const Export& which) const noexcept {
  if (!module_) return nullptr;
  const FARPROC function = GetProcAddress(
      module_.get(), which.name != nullptr ? which.name : MAKEINTRESOURCEA(which.ordinal));
  if (function != nullptr) return function;
  if (which.name != nullptr) {
    PrimitiveLogger::Log(site_.tag, "%sGetProcAddress(hInst, \"%s\") failed, error: 0x%x",
                         site_.prefix, which.name, static_cast<unsigned>(GetLastError()));
  } else {
    PrimitiveLogger::Log(
        site_.tag, "%sGetProcAddress(hInst, MAKEINTRESOURCE(%u)) failed, error: 0x%x", site_.prefix,
        static_cast<unsigned>(which.ordinal), static_cast<unsigned>(GetLastError()));
  }
  return function;
}
