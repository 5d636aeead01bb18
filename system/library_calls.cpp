#include "system/library_calls.h"

#include <msi.h>

#include "system/system_constants.h"
#include "system/system_library.h"

using namespace system_constants;

namespace {

enum VersionExport : size_t { kGetInfoSize, kGetInfo, kQueryValue };
constexpr SystemLibrary::Export kVersionExports[] = {
    {"GetFileVersionInfoSizeA", 0}, {"GetFileVersionInfoA", 0}, {"VerQueryValueA", 0}};

// Bound by ordinal, by design: Windows' msi.dll exports these two under
// ordinals that do not change between releases.
enum MsiExport : size_t { kEnumRelatedProducts, kGetProductInfo };
constexpr SystemLibrary::Export kMsiExports[] = {{nullptr, kMsiEnumRelatedProductsAOrdinal},
                                                 {nullptr, kMsiGetProductInfoAOrdinal}};

enum CryptExport : size_t {
  kQueryObject,
  kMessageGetParam,
  kMessageClose,
  kFindCertificate,
  kGetNameString,
  kFreeCertificate,
  kCloseStore,
};
constexpr SystemLibrary::Export kCryptExports[] = {
    {"CryptQueryObject", 0},   {"CryptMsgGetParam", 0},
    {"CryptMsgClose", 0},      {"CertFindCertificateInStore", 0},
    {"CertGetNameStringA", 0}, {"CertFreeCertificateContext", 0},
    {"CertCloseStore", 0}};

const SystemExports<3>& Version() {
  static const SystemExports<3> version(kVersionLibraryName, "LoadVersionLibrary", kVersionExports);
  return version;
}

const SystemExports<2>& Msi() {
  static const SystemExports<2> msi(kMsiLibraryName, "LoadMsiLibrary", kMsiExports);
  return msi;
}

const SystemExports<7>& Crypt() {
  static const SystemExports<7> crypt(kCryptLibraryName, "LoadCryptLibrary", kCryptExports);
  return crypt;
}

}  // namespace

namespace version_library {

Win32Result GetFileVersionInfoSizeA(const char* path, DWORD& size, DWORD& handle) {
  return Version().Call<decltype(&::GetFileVersionInfoSizeA)>(kGetInfoSize, &size, path, &handle);
}

Win32Result GetFileVersionInfoA(const char* path, DWORD handle, DWORD size, void* block) {
  return Version().Call<decltype(&::GetFileVersionInfoA)>(kGetInfo, nullptr, path, handle, size,
                                                          block);
}

Win32Result VerQueryValueA(const void* block, const char* subBlock, void** buffer, UINT* length) {
  return Version().Call<decltype(&::VerQueryValueA)>(kQueryValue, nullptr, block, subBlock, buffer,
                                                     length);
}

}  // namespace version_library

namespace msi_library {

UINT MsiEnumRelatedProductsA(LPCSTR upgradeCode, DWORD reserved, DWORD productIndex,
                             LPSTR productBuffer) {
  const auto function = Msi().Get<decltype(&::MsiEnumRelatedProductsA)>(kEnumRelatedProducts);
  if (function == nullptr) return Msi().UnavailableError();
  return function(upgradeCode, reserved, productIndex, productBuffer);
}

UINT MsiGetProductInfoA(LPCSTR product, LPCSTR attribute, LPSTR valueBuffer,
                        LPDWORD valueBufferSize) {
  const auto function = Msi().Get<decltype(&::MsiGetProductInfoA)>(kGetProductInfo);
  if (function == nullptr) return Msi().UnavailableError();
  return function(product, attribute, valueBuffer, valueBufferSize);
}

}  // namespace msi_library

namespace crypt_library {

Win32Result CryptQueryObject(DWORD objectType, const void* object, DWORD expectedContentTypeFlags,
                             DWORD expectedFormatTypeFlags, DWORD* contentType,
                             HCERTSTORE* certStore, HCRYPTMSG* message) {
  return Crypt().Call<decltype(&::CryptQueryObject)>(
      kQueryObject, nullptr, objectType, object, expectedContentTypeFlags, expectedFormatTypeFlags,
      DWORD{0}, static_cast<DWORD*>(nullptr), contentType, static_cast<DWORD*>(nullptr), certStore,
      message, static_cast<const void**>(nullptr));
}

Win32Result CryptMsgGetParam(HCRYPTMSG message, DWORD paramType, DWORD index, void* data,
                             DWORD* dataSize) {
  return Crypt().Call<decltype(&::CryptMsgGetParam)>(kMessageGetParam, nullptr, message, paramType,
                                                     index, data, dataSize);
}

Win32Result CertFindCertificateInStore(HCERTSTORE store, DWORD certEncodingType, DWORD findType,
                                       const void* findPara, PCCERT_CONTEXT* found) {
  return Crypt().Call<decltype(&::CertFindCertificateInStore)>(
      kFindCertificate, found, store, certEncodingType, DWORD{0}, findType, findPara,
      static_cast<PCCERT_CONTEXT>(nullptr));
}

Win32Result CertGetNameStringA(PCCERT_CONTEXT certificate, DWORD type, char* name, DWORD nameSize,
                               DWORD* length) {
  return Crypt().Call<decltype(&::CertGetNameStringA)>(kGetNameString, length, certificate, type,
                                                       DWORD{0}, static_cast<void*>(nullptr), name,
                                                       nameSize);
}

void CryptMsgClose(HCRYPTMSG message) {
  (void)Crypt().Call<decltype(&::CryptMsgClose)>(kMessageClose, nullptr, message);
}

void CertFreeCertificateContext(PCCERT_CONTEXT certificate) {
  (void)Crypt().Call<decltype(&::CertFreeCertificateContext)>(kFreeCertificate, nullptr,
                                                              certificate);
}

void CertCloseStore(HCERTSTORE store, DWORD flags) {
  (void)Crypt().Call<decltype(&::CertCloseStore)>(kCloseStore, nullptr, store, flags);
}

}  // namespace crypt_library
