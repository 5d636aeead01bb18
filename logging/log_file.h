// Opening the log file without letting another user redirect it.
#pragma once

#include <cstdio>
#include <string>

// Opens `path` for appending ("a+", text mode, no sharing), creating it when
// missing. Refuses a reparse point at the final name and a file with more
// than one hard link, since the log folder is writable by every user.
// Returns null on failure, with the C runtime error number in `error`.
FILE* OpenLogFileForAppend(const std::string& path, int* error);
