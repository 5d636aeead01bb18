// Reads text values from INI files.
#pragma once

#include <string>

// The value of `key` in `section` of the INI file `path`, cut to what fits
// in 1023 characters; `defaultText` when the file, section or key is
// missing. Logs nothing, never fails.
std::string ReadIniText(const std::string& path, const char* section, const char* key,
                        const char* defaultText);
