// The version.dll calls the helper makes, reached through the library loaded
// once per process from the system folder (see system_library.h). Each has
// its Win32 namesake's contract; when the library or the function is
// unavailable it fails as that call fails, with the reason as the last error.
#pragma once

#include <windows.h>

namespace version_library {

DWORD GetFileVersionInfoSizeA(LPCSTR fileName, LPDWORD handle);
BOOL GetFileVersionInfoA(LPCSTR fileName, DWORD handle, DWORD size, LPVOID data);
BOOL VerQueryValueA(LPCVOID block, LPCSTR subBlock, LPVOID* buffer, PUINT length);

}  // namespace version_library
