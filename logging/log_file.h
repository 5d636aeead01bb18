// Opening the log file without letting another user redirect it.
#pragma once

#include <windows.h>

#include <cstdio>
#include <string>

#include "logging/win32_result.h"

// Creates `folder` (ending in a backslash) and the folders above it as
// needed. Ok when a folder stands there now; ERROR_DIRECTORY when a file
// holds its name.
Win32Result CreateLogFolder(const std::string& folder);

// Opens `path` for appending ("a+", text mode, no sharing), creating it when
// missing. Refuses a reparse point at the final name and a file with more
// than one hard link, since the log folder is writable by every user.
// Returns null on failure, with the C runtime error number in `error`.
FILE* OpenLogFileForAppend(const std::string& path, int* error);

// Why another program must not be handed `path` to append its log to; empty
// when it may. The file is created when missing, with its folders, so that
// what is checked is what the program opens; the same refusals as
// OpenLogFileForAppend's apply. The program opens the file by name later,
// so a user who can replace the file in between still can: the check keeps
// out what was planted before the run. Logs nothing.
std::string LogTargetProblem(const std::string& path);
