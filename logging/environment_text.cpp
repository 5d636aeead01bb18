#include "logging/environment_text.h"

#include <optional>
#include <vector>

#include "logging/ansi_text.h"

Win32Result ExpandEnvironmentText(const std::string& text, size_t capacity, std::string& expanded) {
  expanded.clear();
  // Expanded wide: the narrow call would already have replaced the letters
  // the code page lacks.
  const std::wstring wideText = AnsiToWide(text);
  DWORD needed = ExpandEnvironmentStringsW(wideText.c_str(), nullptr, 0);
  if (needed == 0) return Win32Result::LastError();
  std::vector<wchar_t> buffer(needed, L'\0');
  // The environment may grow between the two calls; a second shortfall is
  // reported like a first one.
  needed = ExpandEnvironmentStringsW(wideText.c_str(), buffer.data(), needed);
  if (needed == 0) return Win32Result::LastError();
  if (needed > buffer.size()) return Win32Result::Failed(ERROR_INSUFFICIENT_BUFFER);
  const std::optional<std::string> narrow = WideToAnsiExact(buffer.data());
  if (!narrow) return Win32Result::Failed(ERROR_NO_UNICODE_TRANSLATION);
  if (narrow->size() + 1 > capacity) return Win32Result::Failed(ERROR_INSUFFICIENT_BUFFER);
  expanded = *narrow;
  return Win32Result::Ok();
}
