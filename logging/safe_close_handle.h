#pragma once

#include <windows.h>

// Closes `handle` and clears it. Null and INVALID_HANDLE_VALUE are left alone;
// a handle that cannot be queried, is protected from closing, or fails to
// close keeps its value and the reason is logged.
void SafeCloseHandle(HANDLE& handle);

// For a handle's sole owner once SafeCloseHandle has refused it (and logged
// why): lifts a protection from closing and closes it, so that the owner
// never drops an open handle. Clears the handle.
void CloseRefusedHandle(HANDLE& handle);
