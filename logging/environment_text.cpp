#include "logging/environment_text.h"

#include <optional>
#include <vector>

#include "logging/ansi_text.h"
#include "logging/primitive_logger.h"

bool ExpandEnvironmentText(const std::string& text, size_t capacity, std::string& expanded,
                           DWORD& error) {
  expanded.clear();
  error = ERROR_SUCCESS;
  // Expanded wide: the narrow call would already have replaced the letters
  // the code page lacks.
  const std::wstring wideText = AnsiToWide(text);
  DWORD needed = ExpandEnvironmentStringsW(wideText.c_str(), nullptr, 0);
  if (needed == 0) {
    error = GetLastError();
    return false;
  }
  std::vector<wchar_t> buffer(needed, L'\0');
  // The environment may grow between the two calls; a second shortfall is
  // reported like a first one.
  needed = ExpandEnvironmentStringsW(wideText.c_str(), buffer.data(), needed);
  if (needed == 0 || needed > buffer.size()) {
    error = needed == 0 ? GetLastError() : ERROR_INSUFFICIENT_BUFFER;
    return false;
  }
  const std::optional<std::string> narrow = WideToAnsiExact(buffer.data());
  if (!narrow) {
    error = ERROR_NO_UNICODE_TRANSLATION;
    return false;
  }
  if (narrow->size() + 1 > capacity) {
    error = ERROR_INSUFFICIENT_BUFFER;
    return false;
  }
  expanded = *narrow;
  return true;
}

bool ExpandEnvironmentTextOrLog(const std::string& text, size_t capacity, std::string& expanded,
                                const char* tag, const char* failureFormat) {
  DWORD error = ERROR_SUCCESS;
  if (ExpandEnvironmentText(text, capacity, expanded, error)) return true;
  PrimitiveLogger::Log(tag, failureFormat, error);
  return false;
}
