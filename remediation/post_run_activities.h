// The end of the remediation: the final result, judged by the completion
// marker and, when asked for, the desktop client's build number, logged with
// the alert text that belongs to it.
#pragma once

#include <cstdint>
#include <string>

class ConfigDrivenState;
class RemediationRun;

// Reads the components again, logs the final result and its alert, and the
// run's verified outcome, and records both for management tools. True for
// "Success": the completion marker is set and, with a "-zar:" value, the
// desktop client is current.
bool HandlePostRunActivities(ConfigDrivenState& state, const RemediationRun& run);

// Whether the desktop client's build ("DisplayVersion" of its version INI
// file) is older than the required one ("KDCVersion" under
// HKEY_LOCAL_MACHINE), or the required build cannot be determined. Also
// stored in state.kdcUpgradeNeeded.
bool IsKDCUpgradeNeeded(ConfigDrivenState& state);

// The text after the last '.' of `version`; empty without a '.' or when the
// '.' ends the text.
std::string ExtractBuildNumber(const std::string& version);

// `text` read as an unsigned decimal number the way strtoul reads it
// (leading white space, an optional sign, digits up to the first other
// character); 0 when no digit is read or the number does not fit in 32 bits.
uint32_t ParseBuildNumber(const std::string& text);
