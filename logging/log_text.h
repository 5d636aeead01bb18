// Texts as every log line shows them: a truth value, and the file name at
// the end of a path.
#pragma once

#include <string>

// "True" or "False".
inline const char* BoolText(bool value) { return value ? "True" : "False"; }

// What follows the last backslash of `path`: the whole path when it has no
// backslash, an empty text when the backslash is its last character.
inline std::string FileNamePart(const std::string& path) {
  const size_t backslash = path.rfind('\\');
  return backslash == std::string::npos ? path : path.substr(backslash + 1);
}
