// The Windows Installer queries the helper makes, reached through msi.dll
// loaded once per process from the system folder (see system_library.h).
// Each has its Win32 namesake's contract; when the library or the function is
// unavailable it returns the reason as its error code.
#pragma once

#include <windows.h>

namespace msi_library {

UINT MsiEnumRelatedProductsA(LPCSTR upgradeCode, DWORD reserved, DWORD productIndex,
                             LPSTR productBuffer);
UINT MsiGetProductInfoA(LPCSTR product, LPCSTR attribute, LPSTR valueBuffer,
                        LPDWORD valueBufferSize);

}  // namespace msi_library
