#include "system/ini_store.h"

#include <windows.h>

#include "system/known_folders.h"
#include "system/system_constants.h"

using namespace system_constants;

std::string GetVersionFromINI() {
  const std::string path = GetVersionIniPath();
  // An empty name would send the profile API to look in the Windows folder.
  if (path.empty()) return kNotInIni;
  char buffer[kIniBufferSize] = {};
  const DWORD length = GetPrivateProfileStringA(kIniSection, kIniVersionKey, kNotInIni, buffer,
                                                kIniBufferSize, path.c_str());
  return std::string(buffer, length);
}
