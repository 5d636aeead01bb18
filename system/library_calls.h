// The calls the helper makes into version.dll, msi.dll and crypt32.dll,
// libraries it loads at run time from the system folder (see
// system_library.h), each one on the first call into it. The version and
// crypt32 calls report as Win32Result (the call's last error, or why the
// function is unavailable); the Windows Installer queries keep their own
// contract of returning the error code.
#pragma once

#include <windows.h>
#include <wincrypt.h>

#include "logging/win32_result.h"

namespace version_library {

// GetFileVersionInfoSizeA: the size of `path`'s version resource, and the
// handle GetFileVersionInfo takes with it.
Win32Result GetFileVersionInfoSizeA(const char* path, DWORD& size, DWORD& handle);
Win32Result GetFileVersionInfoA(const char* path, DWORD handle, DWORD size, void* block);
Win32Result VerQueryValueA(const void* block, const char* subBlock, void** buffer, UINT* length);

}  // namespace version_library

namespace msi_library {

UINT MsiEnumRelatedProductsA(LPCSTR upgradeCode, DWORD reserved, DWORD productIndex,
                             LPSTR productBuffer);
UINT MsiGetProductInfoA(LPCSTR product, LPCSTR attribute, LPSTR valueBuffer,
                        LPDWORD valueBufferSize);

}  // namespace msi_library

namespace crypt_library {

Win32Result CryptQueryObject(DWORD objectType, const void* object, DWORD expectedContentTypeFlags,
                             DWORD expectedFormatTypeFlags, DWORD* contentType,
                             HCERTSTORE* certStore, HCRYPTMSG* message);
Win32Result CryptMsgGetParam(HCRYPTMSG message, DWORD paramType, DWORD index, void* data,
                             DWORD* dataSize);
Win32Result CertFindCertificateInStore(HCERTSTORE store, DWORD certEncodingType, DWORD findType,
                                       const void* findPara, PCCERT_CONTEXT* found);
// The name's length with its NUL (the buffer's size needed when `name` is
// null).
Win32Result CertGetNameStringA(PCCERT_CONTEXT certificate, DWORD type, char* name, DWORD nameSize,
                               DWORD* length);
// The closes of the owners of these objects, which have no one to tell of a
// failure.
void CryptMsgClose(HCRYPTMSG message);
void CertFreeCertificateContext(PCCERT_CONTEXT certificate);
void CertCloseStore(HCERTSTORE store, DWORD flags);

}  // namespace crypt_library
