// Environment references in narrow texts, expanded without losing a
// character to the ANSI code page.
#pragma once

#include <windows.h>

#include <cstddef>
#include <string>

// Expands the %NAME% references in `text`. True with the expanded text when
// it fits `capacity` bytes with its terminating NUL (the size of the
// fixed buffers the callers always had). False with a system error code
// otherwise: the expansion's own, ERROR_INSUFFICIENT_BUFFER when the result
// is too long, ERROR_NO_UNICODE_TRANSLATION when it holds a character the ANSI
// code page cannot hold (a best-fit or '?' form would name another path).
bool ExpandEnvironmentText(const std::string& text, size_t capacity, std::string& expanded,
                           DWORD& error);

// The same; a failure is logged under `tag` with `failureFormat`, whose one
// %lu takes the error code.
bool ExpandEnvironmentTextOrLog(const std::string& text, size_t capacity, std::string& expanded,
                                const char* tag, const char* failureFormat);
