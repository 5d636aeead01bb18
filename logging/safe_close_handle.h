#pragma once

#include <windows.h>

// Closes `handle` and clears it. Null and INVALID_HANDLE_VALUE are left alone;
// a handle that cannot be queried, is protected from closing, or fails to
// close keeps its value and the reason is logged.
void SafeCloseHandle(HANDLE& handle);

// The close a handle's sole owner makes, once: a handle protected from
// closing has the protection lifted first, since its owner is the only one
// who ever could close it. Whatever fails is logged and the value is given
// up, never closed again: once a close has failed, or the value named no
// handle when it was queried, the same value may by now name an object
// someone else opened. `close` is CloseHandle but for tests of that failure.
void CloseOwnedHandle(HANDLE handle, BOOL(WINAPI* close)(HANDLE) = CloseHandle) noexcept;
