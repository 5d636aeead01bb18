// The one owner of every kind of resource the program holds: a handle, a
// registry key, a library, a crypto object, shell memory, a C file. The
// kind is a traits type that says which values mean "none" and how the
// resource is closed; closing is behaviour, so each kind names its own (the
// logging close for kernel handles, a silent one for the logger's own file,
// RegCloseKey for a key, and so on).
//
//   struct Traits {
//     using Value = ...;                        // what is held
//     static Value Invalid() noexcept;          // the value after a reset
//     static bool IsValid(Value) noexcept;      // whether there is anything to close
//     static void Close(Value) noexcept;        // closes it; never throws
//   };
#pragma once

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

// Traits for a pointer-like resource whose "none" is null and whose close is
// one function of the platform's (LocalFree, CoTaskMemFree, RegCloseKey...).
template <typename T, auto CloseFunction>
struct NullableTraits {
  using Value = T;
  static Value Invalid() noexcept { return nullptr; }
  static bool IsValid(Value value) noexcept { return value != nullptr; }
  static void Close(Value value) noexcept { CloseFunction(value); }
};
