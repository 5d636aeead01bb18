// The crypt32.dll calls of the signature check, reached through the library
// loaded once per process from the system folder (see system_library.h).
// Each has its Win32 namesake's contract; when the library or the function is
// unavailable it fails as that call fails, with the reason as the last error.
#pragma once

#include <windows.h>
#include <wincrypt.h>

namespace crypt_library {

BOOL CryptQueryObject(DWORD objectType, const void* object, DWORD expectedContentTypeFlags,
                      DWORD expectedFormatTypeFlags, DWORD flags, DWORD* msgAndCertEncodingType,
                      DWORD* contentType, DWORD* formatType, HCERTSTORE* certStore,
                      HCRYPTMSG* message, const void** context);
BOOL CryptMsgGetParam(HCRYPTMSG message, DWORD paramType, DWORD index, void* data, DWORD* dataSize);
BOOL CryptMsgClose(HCRYPTMSG message);
PCCERT_CONTEXT CertFindCertificateInStore(HCERTSTORE store, DWORD certEncodingType, DWORD findFlags,
                                          DWORD findType, const void* findPara,
                                          PCCERT_CONTEXT previousContext);
DWORD CertGetNameStringA(PCCERT_CONTEXT certificate, DWORD type, DWORD flags, void* typePara,
                         LPSTR nameString, DWORD nameStringSize);
BOOL CertFreeCertificateContext(PCCERT_CONTEXT certificate);
BOOL CertCloseStore(HCERTSTORE store, DWORD flags);

}  // namespace crypt_library
