// Unique names in the user's temporary folder for installers that are about
// to be written out of the program's resources and are not yet verified.
#pragma once

#include <string>

// A free file name in the temporary folder: the first three characters of
// `prefix`, a hexadecimal number and `extension` (given without the dot, e.g.
// "exe"). Empty when no name could be made (logged); callers must not write to
// an empty name. The name is not reserved: nothing is left on disk under it.
// A failure to delete the system's placeholder file is thrown as
// FileSysUtils::FileSystemError.
std::string GetTempPathForUnSafeInstaller(const std::string& prefix, const std::string& extension);
