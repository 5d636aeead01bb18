// The owners of every kind of system resource the program holds. UniqueAny
// holds one value and closes it once, when it goes or is reset; its traits
// say which values mean "none" and how the kind is closed. Closing is
// behaviour, so each kind names its own close: a kernel handle's failed
// close is logged (CloseOwnedHandle), the logger's own file closes silently,
// a key goes through RegCloseKey, and so on.
//
//   struct Traits {
//     using Value = ...;                        // what is held
//     static Value Invalid() noexcept;          // the value after a reset
//     static bool IsValid(Value) noexcept;      // whether there is anything to close
//     static void Close(Value) noexcept;        // closes it; never throws
//   };
#pragma once

#include <windows.h>
#include <objbase.h>

#include <cstdio>
#include <utility>

#include "logging/primitive_logger.h"
#include "logging/safe_close_handle.h"

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

// The sole owner's close: a failure is logged and the value given up, never
// closed a second time.
struct LoggedHandleTraits : KernelHandleTraits {
  static void Close(Value value) noexcept { CloseOwnedHandle(value); }
};

// Closes without a word: the logger cannot log about its own file while it
// opens it.
struct SilentHandleTraits : KernelHandleTraits {
  static void Close(Value value) noexcept { CloseHandle(value); }
};

// Closes and logs a failure in the owner's own words (its log lines are part
// of its record): `Tag` and a format with one %lu for the error code.
template <const char* Tag, const char* FailureFormat>
struct OwnWordsHandleTraits : KernelHandleTraits {
  static void Close(Value value) noexcept {
    if (!CloseHandle(value)) PrimitiveLogger::Log(Tag, FailureFormat, GetLastError());
  }
};

// FindFirstFile's "none" is INVALID_HANDLE_VALUE alone.
struct FindTraits {
  using Value = HANDLE;
  static Value Invalid() noexcept { return INVALID_HANDLE_VALUE; }
  static bool IsValid(Value value) noexcept { return value != INVALID_HANDLE_VALUE; }
  static void Close(Value value) noexcept { FindClose(value); }
};

// A library whose release fails is logged and let go.
inline void FreeLibraryLogged(HMODULE module) noexcept {
  if (!FreeLibrary(module)) {
    PrimitiveLogger::Log("SystemLibrary::Free", "FreeLibrary() failed, error: 0x%x",
                         static_cast<unsigned>(GetLastError()));
  }
}

inline void ReleaseComObject(IUnknown* object) { object->Release(); }

using UniqueHandle = UniqueAny<LoggedHandleTraits>;
using SilentHandle = UniqueAny<SilentHandleTraits>;
template <const char* Tag, const char* FailureFormat>
using OwnWordsHandle = UniqueAny<OwnWordsHandleTraits<Tag, FailureFormat>>;
using UniqueFind = UniqueAny<FindTraits>;
using UniqueLibrary = UniqueAny<NullableTraits<HMODULE, FreeLibraryLogged>>;
using UniqueRegKey = UniqueAny<NullableTraits<HKEY, RegCloseKey>>;
using UniqueLocalMemory = UniqueAny<NullableTraits<HLOCAL, LocalFree>>;
// Text the shell allocates for its caller (SHGetKnownFolderPath).
using UniqueShellText = UniqueAny<NullableTraits<wchar_t*, CoTaskMemFree>>;
using UniqueCFile = UniqueAny<NullableTraits<FILE*, fclose>>;
using UniqueEnvironmentStrings = UniqueAny<NullableTraits<wchar_t*, FreeEnvironmentStringsW>>;
template <typename Interface>
using UniqueComPtr = UniqueAny<NullableTraits<Interface*, ReleaseComObject>>;
// An object of a library the program loads at run time, closed through that
// library (the crypt32 objects of the signature check).
template <typename T, auto CloseFunction>
using UniqueLoaded = UniqueAny<NullableTraits<T, CloseFunction>>;
