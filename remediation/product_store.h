// The helper's own records on the machine: the per-user completion marker,
// and the desktop client's version file.
#pragma once

#include <string>

// Sets the completion marker "PerUserCompsFixed" = "True" under
// HKEY_CURRENT_USER\SOFTWARE\TESSALY\REMEDION; the outcome is only logged.
void MarkPerUserCompStatusInRegistry();

// Whether the completion marker holds "True" in any letter case.
bool IsPerUserCompStatusMarkedInRegistry();

// The desktop client's version INI file under the 32-bit program-files
// folder, with environment references expanded; empty when expansion fails.
std::string GetVersionIniPath();

// "DisplayVersion" of section "Tessaly" in that file, cut to what fits in
// 1023 characters; "NotInINI" when the file, section or key is missing. Logs
// nothing, never fails.
std::string GetVersionFromINI();
