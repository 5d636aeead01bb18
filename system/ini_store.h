// Reads the desktop client's version from its INI file.
#pragma once

#include <string>

// "DisplayVersion" of section "Tessaly" in the file GetVersionIniPath names,
// cut to what fits in 1023 characters; "NotInINI" when the file, section or
// key is missing. Logs nothing, never fails.
std::string GetVersionFromINI();
