// Environment references in narrow texts, expanded without losing a
// character to the ANSI code page.
#pragma once

#include <cstddef>
#include <string>

#include "logging/win32_result.h"

// Expands the %NAME% references in `text` into `expanded` when the result
// fits `capacity` bytes with its terminating NUL (the size of the fixed
// buffers the callers always had). Fails with the expansion's own error,
// ERROR_INSUFFICIENT_BUFFER when the result is too long, or
// ERROR_NO_UNICODE_TRANSLATION when it holds a character the ANSI code page
// cannot hold (a best-fit or '?' form would name another path). Logs
// nothing: the caller says what the text was for.
Win32Result ExpandEnvironmentText(const std::string& text, size_t capacity, std::string& expanded);
