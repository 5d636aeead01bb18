// Opening the log file without letting another user redirect it.
#pragma once

#include <windows.h>

#include <cstdio>
#include <string>

// Creates `folder` (ending in a backslash) and the folders above it as
// needed. ERROR_SUCCESS when a folder stands there now; a system error code
// otherwise, ERROR_DIRECTORY when a file holds its name.
DWORD CreateLogFolder(const std::string& folder);

// Opens `path` for appending ("a+", text mode, no sharing), creating it when
// missing. Refuses a reparse point at the final name and a file with more
// than one hard link, since the log folder is writable by every user.
// Returns null on failure, with the C runtime error number in `error`.
FILE* OpenLogFileForAppend(const std::string& path, int* error);
