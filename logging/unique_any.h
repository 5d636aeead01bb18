// The owner template beneath every owner type of logging/owners.h, and the
// kinds that close without logging. Apart because the logger's own file
// layer holds its handles with it: owners.h logs failed closes through the
// logger, which stands on that layer.
#pragma once

#include <windows.h>

#include <utility>

template <typename Traits>
class UniqueAny {
 public:
  using Value = typename Traits::Value;

  UniqueAny() noexcept = default;
  explicit UniqueAny(Value value) noexcept : value_(value) {}
  ~UniqueAny() { reset(); }

  UniqueAny(UniqueAny&& other) noexcept : value_(other.release()) {}
  UniqueAny& operator=(UniqueAny&& other) noexcept {
    if (this != &other) reset(other.release());
    return *this;
  }
  UniqueAny(const UniqueAny&) = delete;
  UniqueAny& operator=(const UniqueAny&) = delete;

  Value get() const noexcept { return value_; }
  bool valid() const noexcept { return Traits::IsValid(value_); }
  explicit operator bool() const noexcept { return valid(); }

  // For an out-parameter: closes what is held first, then hands out the
  // address to be filled.
  Value* put() noexcept {
    reset();
    return &value_;
  }

  Value release() noexcept { return std::exchange(value_, Traits::Invalid()); }

  void reset(Value value = Traits::Invalid()) noexcept {
    if (Traits::IsValid(value_)) Traits::Close(value_);
    value_ = value;
  }

 private:
  Value value_ = Traits::Invalid();
};

// A pointer-like resource whose "none" is null and whose close is one
// function (LocalFree, CoTaskMemFree, RegCloseKey, ...).
template <typename T, auto CloseFunction>
struct NullableTraits {
  using Value = T;
  static Value Invalid() noexcept { return nullptr; }
  static bool IsValid(Value value) noexcept { return value != nullptr; }
  static void Close(Value value) noexcept { CloseFunction(value); }
};

// Kernel handles: the calls that make them answer "none" with null or with
// INVALID_HANDLE_VALUE, so both mean none.
struct KernelHandleTraits {
  using Value = HANDLE;
  static Value Invalid() noexcept { return nullptr; }
  static bool IsValid(Value value) noexcept {
    return value != nullptr && value != INVALID_HANDLE_VALUE;
  }
};

// Closes without a word: the logger cannot log about its own file while it
// opens it.
struct SilentHandleTraits : KernelHandleTraits {
  static void Close(Value value) noexcept { CloseHandle(value); }
};

using SilentHandle = UniqueAny<SilentHandleTraits>;
