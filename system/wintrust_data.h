// The trust-check record (WINTRUST_DATA) as the Windows SDK publishes it.
// mingw-w64's declaration stops before the last member, pSignatureSettings,
// so its size is 48 bytes on 32-bit Windows instead of 52; WinVerifyTrust
// reads the size to tell which members a caller supplies, so the record is
// declared here whole.
#pragma once

#include <windows.h>
#include <wintrust.h>

#include <cstddef>

struct FullWintrustData {
  DWORD cbStruct;
  LPVOID pPolicyCallbackData;
  LPVOID pSIPClientData;
  DWORD dwUIChoice;
  DWORD fdwRevocationChecks;
  DWORD dwUnionChoice;
  // The union of the published record; only the file form is used here, and
  // every member of the union is one pointer.
  WINTRUST_FILE_INFO* pFile;
  DWORD dwStateAction;
  HANDLE hWVTStateData;
  WCHAR* pwszURLReference;
  DWORD dwProvFlags;
  DWORD dwUIContext;
  void* pSignatureSettings;  // WINTRUST_SIGNATURE_SETTINGS*
};

// The members both declarations share lie at the same places.
static_assert(offsetof(FullWintrustData, pFile) == offsetof(WINTRUST_DATA, pFile), "union");
static_assert(offsetof(FullWintrustData, dwUIContext) == offsetof(WINTRUST_DATA, dwUIContext),
              "last member mingw-w64 declares");

#if defined(_WIN64)
static_assert(sizeof(FullWintrustData) == 88, "WINTRUST_DATA is 88 bytes on 64-bit Windows");
static_assert(sizeof(WINTRUST_FILE_INFO) == 32, "WINTRUST_FILE_INFO is 32 bytes on 64-bit Windows");
#else
static_assert(sizeof(FullWintrustData) == 52, "WINTRUST_DATA is 52 bytes on 32-bit Windows");
static_assert(sizeof(WINTRUST_FILE_INFO) == 16, "WINTRUST_FILE_INFO is 16 bytes on 32-bit Windows");
#endif
