// Copies an installer carried among the program's resources to a file.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

#include "logging/win32_result.h"

// A payload's bytes as the loader maps them with the module; never freed.
struct PayloadResource {
  const BYTE* bytes = nullptr;
  DWORD size = 0;  // as far as it could be read; 0 when it was never found
};

// Finds resource `resourceId` of type 256 in the program's own module, its
// bytes as mapped; fails (logged) when there is no such resource or it
// cannot be loaded.
Win32Result LoadFileInResource(uint16_t resourceId, PayloadResource& resource);

// Writes payload `resourceId` byte for byte to `targetPath` (narrow, ANSI
// code page, as every step of an install uses it), creating or truncating
// the file. `name` appears in the log only. True only when every byte was
// written; no exception leaves it.
bool WriteResourceToFile(uint16_t resourceId, const std::string& name,
                         const std::string& targetPath);

// Writes payload `resourceId` byte for byte through `file`, a file just made
// for it and open for writing; `name` and `path` appear in the log only.
// Ok only when every byte was written and flushed. No exception leaves it.
Win32Result WriteResourceToOpenFile(uint16_t resourceId, const std::string& name,
                                    const std::string& path, HANDLE file);
