#include "system/ini_store.h"

#include <windows.h>

#include "system/system_constants.h"

std::string ReadIniText(const std::string& path, const char* section, const char* key,
                        const char* defaultText) {
  char buffer[system_constants::kIniBufferSize] = {};
  const DWORD length = GetPrivateProfileStringA(section, key, defaultText, buffer,
                                                system_constants::kIniBufferSize, path.c_str());
  return std::string(buffer, length);
}
