// Which per-user components need to be (re)installed, judged by the version
// resources of their installed executables against the current release.
#pragma once

#include <cstdint>

class ConfigDrivenState;

// Sets state.upgradeRequiredMask (0x200 launcher, 0x400 setup client) and,
// when any component needs work, starts the progress window once per
// process. False only when the components' folder cannot be expanded.
bool isUpgradeRequired(ConfigDrivenState& state);

// Writes "<product major>.<file minor>.<file build>" of `filePath` into
// `version` (`versionSize` bytes, NUL included). Returns 0 on success, 2 when
// nothing exists at the path, 1 on any other failure (also a text that does
// not fit). A file-system error other than "not found" while testing for the
// file is thrown as FileSysUtils::FileSystemError.
uint32_t getFileVersion(const char* filePath, char* version, const uint32_t& versionSize);

// Compares a client version text with the current release field by field as
// numbers: -1 when the client is older or has another number of fields (or
// is empty), 0 when equal, 1 when newer.
int compareVersion(const char* clientVersion);
