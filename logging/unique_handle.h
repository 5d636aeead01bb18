// Sole owner of a kernel handle; closes it through SafeCloseHandle. A handle
// that SafeCloseHandle refuses (protected from closing) is still closed:
// the owner is the only one who ever could.
#pragma once

#include <windows.h>

#include <utility>

#include "logging/safe_close_handle.h"

class UniqueHandle {
 public:
  UniqueHandle() = default;
  explicit UniqueHandle(HANDLE handle) : handle_(handle) {}
  ~UniqueHandle() { reset(); }

  UniqueHandle(UniqueHandle&& other) noexcept : handle_(other.release()) {}
  UniqueHandle& operator=(UniqueHandle&& other) noexcept {
    if (this != &other) reset(other.release());
    return *this;
  }
  UniqueHandle(const UniqueHandle&) = delete;
  UniqueHandle& operator=(const UniqueHandle&) = delete;

  HANDLE get() const { return handle_; }
  bool valid() const { return handle_ != nullptr && handle_ != INVALID_HANDLE_VALUE; }
  explicit operator bool() const { return valid(); }

  // For out-parameters and for SafeCloseHandle, which clears what it closed.
  HANDLE& ref() { return handle_; }

  HANDLE release() { return std::exchange(handle_, nullptr); }
  void reset(HANDLE handle = nullptr) {
    SafeCloseHandle(handle_);
    CloseRefusedHandle(handle_);
    handle_ = handle;
  }

 private:
  HANDLE handle_ = nullptr;
};
