// Owners of kernel handles whose failed close is logged.
#pragma once

#include <windows.h>

#include "logging/handle_traits.h"
#include "logging/primitive_logger.h"
#include "logging/safe_close_handle.h"
#include "logging/unique_any.h"

// Closes through SafeCloseHandle, which logs why it refused a handle; one
// it refused (protected from closing) is still closed, since the owner is
// the only one who ever could.
struct LoggedHandleTraits : KernelHandleTraits {
  static void Close(Value value) noexcept {
    SafeCloseHandle(value);
    CloseRefusedHandle(value);
  }
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
