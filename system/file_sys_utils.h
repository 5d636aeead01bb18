// Tests for, deletes and cleans up file-system entries named by narrow
// (ANSI code page) paths.
#pragma once

#include <string>

namespace FileSysUtils {

// Whether `path` names an existing file, folder or link target. "Not found"
// gives false; any other failure to read the status is thrown as
// std::filesystem::filesystem_error.
bool Exists(const std::string& path);

// Removes the file or the whole folder tree at `path`. True when the path did
// not exist or at least one entry was removed; false when nothing was removed
// or an error occurred (logged). Never throws a standard exception.
bool DeleteIfExists(const std::string& path);

}  // namespace FileSysUtils

// Deletes a file a flow no longer needs and logs when that fails.
void CleanUpFile(const std::string& path);
