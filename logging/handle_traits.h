// Kernel handles for UniqueAny: null and INVALID_HANDLE_VALUE both mean
// "none". The silent close is here, apart from the logging ones, so that the
// logger can own its own file the same way without depending on itself.
#pragma once

#include <windows.h>

struct KernelHandleTraits {
  using Value = HANDLE;
  static Value Invalid() noexcept { return nullptr; }
  static bool IsValid(Value value) noexcept {
    return value != nullptr && value != INVALID_HANDLE_VALUE;
  }
};

// Closes without a word: for the logger's own file, which it cannot log
// about while it opens it.
struct SilentHandleTraits : KernelHandleTraits {
  static void Close(Value value) noexcept { CloseHandle(value); }
};
