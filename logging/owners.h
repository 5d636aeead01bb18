// The owners of every kind of system resource the program holds. UniqueAny
// holds one value and closes it once, when it goes or is reset; its traits
// say which values mean "none" and how the kind is closed. Closing is
// behaviour, so each kind names its own close: a kernel handle's failed
// close is logged (CloseOwnedHandle), the logger's own file closes silently,
// a key goes through RegCloseKey, and so on.
// UniqueAny itself and the silent kinds are in logging/unique_any.h, which
// the logger's own file layer uses.
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

#include "logging/primitive_logger.h"
#include "logging/safe_close_handle.h"
#include "logging/unique_any.h"

// The sole owner's close: a failure is logged and the value given up, never
// closed a second time.
struct LoggedHandleTraits : KernelHandleTraits {
  static void Close(Value value) noexcept { CloseOwnedHandle(value); }
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
