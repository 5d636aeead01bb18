#pragma once

#include <windows.h>

// Closes `handle` and clears it. Null and INVALID_HANDLE_VALUE are left alone;
// a handle that cannot be queried, is protected from closing, or fails to
// close keeps its value and the reason is logged.
void SafeCloseHandle(HANDLE& handle);
