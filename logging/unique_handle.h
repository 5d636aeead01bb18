// Owners of kernel handles whose failed close is logged.
#pragma once

#include <windows.h>

#include "logging/handle_traits.h"
#include "logging/primitive_logger.h"
#include "logging/safe_close_handle.h"
#include "logging/unique_any.h"

// The owner's one close (CloseOwnedHandle): a failure is logged and the
// value given up, never closed a second time.
struct LoggedHandleTraits : KernelHandleTraits {
  static void Close(Value value) noexcept { CloseOwnedHandle(value); }
};

// Closes and logs a failure in the owner's own words: `Tag` and a format
// with one %lu for the error code.
template <const char* Tag, const char* FailureFormat>
struct OwnWordsHandleTraits : KernelHandleTraits {
  static void Close(Value value) noexcept {
    if (!CloseHandle(value)) PrimitiveLogger::Log(Tag, FailureFormat, GetLastError());
  }
};

using UniqueHandle = UniqueAny<LoggedHandleTraits>;
