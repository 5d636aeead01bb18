// Copies an installer carried among the program's resources to a file.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

// A payload's bytes as the loader maps them with the module; never freed.
struct PayloadResource {
  const BYTE* bytes = nullptr;
  DWORD size = 0;  // as far as it could be read; 0 when it was never found
};

// Finds payload `resourceId` (resource type 256) in the program's own module.
// False when there is no such resource, it cannot be loaded, it is empty or
// its first byte is zero (no installer format begins with one); failures of
// the module and resource lookups are logged, and the last error is then the
// lookup's.
bool LoadFileInResource(uint16_t resourceId, PayloadResource& resource);

// Writes payload `resourceId` byte for byte to `targetPath` (narrow, ANSI
// code page, as every step of an install uses it), creating or truncating
// the file. `name` appears in the log only. True only when every byte was
// written; no exception leaves it.
bool WriteResourceToFile(uint16_t resourceId, const std::string& name,
                         const std::string& targetPath);

// Writes payload `resourceId` byte for byte through `file`, a file just made
// for it and open for writing; `name` and `path` appear in the log only.
// True only when every byte was written and flushed; otherwise the last
// error is the failed call's. No exception leaves it.
bool WriteResourceToOpenFile(uint16_t resourceId, const std::string& name, const std::string& path,
                             HANDLE file);
