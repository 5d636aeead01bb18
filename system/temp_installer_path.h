// Unique names for installers that are about to be written out of the
// program's resources and are not yet verified, and the folders that can
// take them.
#pragma once

#include <windows.h>

#include <string>

#include "logging/win32_result.h"

// A free file name in `folder` (narrow, ending in a backslash): the first
// three characters of `prefix`, a hexadecimal number and `extension` (given
// with or without the dot, e.g. "exe"). The name is not reserved: nothing is
// left on disk under it. A failure is logged; never throws.
Win32Result UniqueInstallerName(const std::string& folder, const std::string& prefix,
                                const std::string& extension, std::string& name);

// The user's temporary folder as the system names it (GetTempPathW: TMP,
// TEMP, the profile, the Windows folder), wide and ending in a backslash. A
// failure is logged.
Win32Result UserTempFolder(std::wstring& folder);

// Why `folder` (wide, ending in a backslash) cannot take installer names:
// it holds an unexpanded %VARIABLE%, is too long for a temporary name beside
// it, cannot be written in the ANSI code page, does not exist or is not a
// folder. Empty when it can, with its narrow form in `narrow`. Never throws.
std::string InstallerFolderProblem(const std::wstring& folder, std::string& narrow);
