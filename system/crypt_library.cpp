#include "system/crypt_library.h"

#include "system/system_constants.h"
#include "system/system_library.h"

namespace {

constexpr char kTag[] = "LoadCryptLibrary";

struct CryptFunctions {
  SystemLibrary library;
  decltype(&::CryptQueryObject) queryObject = nullptr;
  decltype(&::CryptMsgGetParam) messageGetParam = nullptr;
  decltype(&::CryptMsgClose) messageClose = nullptr;
  decltype(&::CertFindCertificateInStore) findCertificate = nullptr;
  decltype(&::CertGetNameStringA) getNameString = nullptr;
  decltype(&::CertFreeCertificateContext) freeCertificate = nullptr;
  decltype(&::CertCloseStore) closeStore = nullptr;
};

CryptFunctions LoadCryptLibrary() noexcept {
  CryptFunctions functions;
  functions.library = SystemLibrary::Load(system_constants::kCryptLibraryName, {kTag, ""});
  const SystemLibrary& library = functions.library;
  FindSystemFunction(library, "CryptQueryObject", functions.queryObject);
  FindSystemFunction(library, "CryptMsgGetParam", functions.messageGetParam);
  FindSystemFunction(library, "CryptMsgClose", functions.messageClose);
  FindSystemFunction(library, "CertFindCertificateInStore", functions.findCertificate);
  FindSystemFunction(library, "CertGetNameStringA", functions.getNameString);
  FindSystemFunction(library, "CertFreeCertificateContext", functions.freeCertificate);
  FindSystemFunction(library, "CertCloseStore", functions.closeStore);
  return functions;
}

const CryptFunctions& Crypt() { return LoadedOnce<CryptFunctions, LoadCryptLibrary>(); }

}  // namespace

namespace crypt_library {

BOOL CryptQueryObject(DWORD objectType, const void* object, DWORD expectedContentTypeFlags,
                      DWORD expectedFormatTypeFlags, DWORD flags, DWORD* msgAndCertEncodingType,
                      DWORD* contentType, DWORD* formatType, HCERTSTORE* certStore,
                      HCRYPTMSG* message, const void** context) {
  const CryptFunctions& crypt = Crypt();
  return CallSystemFunction(crypt.library, crypt.queryObject, BOOL{FALSE}, objectType, object,
                            expectedContentTypeFlags, expectedFormatTypeFlags, flags,
                            msgAndCertEncodingType, contentType, formatType, certStore, message,
                            context);
}

BOOL CryptMsgGetParam(HCRYPTMSG message, DWORD paramType, DWORD index, void* data,
                      DWORD* dataSize) {
  const CryptFunctions& crypt = Crypt();
  return CallSystemFunction(crypt.library, crypt.messageGetParam, BOOL{FALSE}, message, paramType,
                            index, data, dataSize);
}

BOOL CryptMsgClose(HCRYPTMSG message) {
  const CryptFunctions& crypt = Crypt();
  return CallSystemFunction(crypt.library, crypt.messageClose, BOOL{FALSE}, message);
}

PCCERT_CONTEXT CertFindCertificateInStore(HCERTSTORE store, DWORD certEncodingType, DWORD findFlags,
                                          DWORD findType, const void* findPara,
                                          PCCERT_CONTEXT previousContext) {
  const CryptFunctions& crypt = Crypt();
  return CallSystemFunction(crypt.library, crypt.findCertificate, PCCERT_CONTEXT{nullptr}, store,
                            certEncodingType, findFlags, findType, findPara, previousContext);
}

DWORD CertGetNameStringA(PCCERT_CONTEXT certificate, DWORD type, DWORD flags, void* typePara,
                         LPSTR nameString, DWORD nameStringSize) {
  const CryptFunctions& crypt = Crypt();
  return CallSystemFunction(crypt.library, crypt.getNameString, DWORD{0}, certificate, type, flags,
                            typePara, nameString, nameStringSize);
}

BOOL CertFreeCertificateContext(PCCERT_CONTEXT certificate) {
  const CryptFunctions& crypt = Crypt();
  return CallSystemFunction(crypt.library, crypt.freeCertificate, BOOL{FALSE}, certificate);
}

BOOL CertCloseStore(HCERTSTORE store, DWORD flags) {
  const CryptFunctions& crypt = Crypt();
  return CallSystemFunction(crypt.library, crypt.closeStore, BOOL{FALSE}, store, flags);
}

}  // namespace crypt_library
