// Text values in the registry. Reads never fail to the caller; platform
// failures are logged, never thrown.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "logging/win32_result.h"

// The text of `valueName` under `subKey` of the hive chosen by `hive`
// (0 HKEY_CURRENT_USER, 1 HKEY_LOCAL_MACHINE, 2 HKEY_CLASSES_ROOT), read as
// text whatever its type; `defaultText` when the key or value is missing or
// unreadable, the data exceeds 512 bytes, the text is empty or the selector
// is unknown.
std::string GetStringFromReg(int hive, const std::string& valueName, const std::string& defaultText,
                             const std::string& subKey);

// Stores `valueText` as REG_SZ under HKEY_CURRENT_USER\`subKey`, creating
// the key and its missing parents. True when the value was stored.
bool WriteValToReg(const std::string& valueName, const std::string& valueText,
                   const std::string& subKey);

// Stores each (name, text) pair as REG_SZ under HKEY_CURRENT_USER\`subKey`
// (created when missing) through one open key. Logs nothing: the caller
// reports the outcome. A failure is the first one's (the values before it
// are stored).
Win32Result WriteTextValuesToReg(const std::string& subKey,
                                 const std::vector<std::pair<std::string, std::string>>& values);
