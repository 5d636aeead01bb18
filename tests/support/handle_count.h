// How many kernel handles the calling process holds, for tests that check
// that code releases what it opens. Header-only so that probe programs,
// which do not link the test support library, can use it too.
#pragma once

#include <windows.h>

namespace test_support {

namespace handle_count_detail {

// Handle values are multiples of 4, and a new handle takes the lowest free
// slot: counting up to the first run of this many free slots counts every
// handle a leak could add.
constexpr DWORD kHandleStep = 4;
constexpr DWORD kFreeSlotsAfterLast = 256;

// The handles of this process, found by asking for each value's flags.
// Asks about this process's own table only: the system-wide handle table
// (SystemExtendedHandleInformation) makes Wine 8's server walk every
// process's table, and that walk has crashed the server (SIGSEGV in its
// handle enumeration), taking every program of the prefix with it.
inline DWORD CountOwnHandles() {
  DWORD count = 0;
  DWORD freeSlots = 0;
  for (ULONG_PTR value = kHandleStep; freeSlots < kFreeSlotsAfterLast; value += kHandleStep) {
    DWORD flags = 0;
    if (GetHandleInformation(reinterpret_cast<HANDLE>(value), &flags)) {
      ++count;
      freeSlots = 0;
    } else {
      ++freeSlots;
    }
  }
  return count;
}

}  // namespace handle_count_detail

// GetProcessHandleCount where it works. Wine (8.0) answers it with 0 for
// every process, which would make every before-and-after comparison pass;
// the handles are counted one by one there instead.
inline DWORD OwnHandleCount() {
  DWORD count = 0;
  if (GetProcessHandleCount(GetCurrentProcess(), &count) && count != 0) return count;
  return handle_count_detail::CountOwnHandles();
}

}  // namespace test_support
