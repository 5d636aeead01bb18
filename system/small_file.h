// Small files the helper keeps for itself (its journal, saved registry
// keys): written whole so that a reader finds the old text or the new, never
// half of one, and read back as untrusted input.
#pragma once

#include <windows.h>

#include <string>

#include "logging/win32_result.h"

// Writes `bytes` to `path` through a sibling file that then replaces it,
// flushed to disk before and after the replacement.
Win32Result WriteFileWhole(const std::wstring& path, const std::string& bytes, const char* tag);

// Reads `path` into `bytes`. Refused: a link, a file with more than one
// name (someone else's file linked in), anything over `limitBytes`
// (ERROR_FILE_TOO_LARGE).
Win32Result ReadSmallFile(const std::wstring& path, DWORD limitBytes, std::string& bytes,
                          const char* tag);
