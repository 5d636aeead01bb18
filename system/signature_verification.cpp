#include "system/signature_verification.h"

#include <windows.h>
#include <softpub.h>
#include <wincrypt.h>
#include <wintrust.h>

#include <array>
#include <memory>
#include <new>

#include "logging/primitive_logger.h"
#include "logging/ansi_text.h"
#include "logging/owners.h"
#include "system/library_calls.h"
#include "system/signature_constants.h"
#include "system/system_library.h"
#include "system/wintrust_data.h"

using namespace signature_constants;

namespace {

constexpr char kTag[] = "qvVerifySignature";

using AcceptedNames = std::array<std::string, 3>;

// The store is closed with the force flag: certificate contexts taken from
// it must not keep it open.
void CloseCertStore(HCERTSTORE store) {
  crypt_library::CertCloseStore(store, CERT_CLOSE_STORE_FORCE_FLAG);
}

// The signature's certificate store and signed message, closed in this
// order's reverse: the message first, then the store.
struct EmbeddedSignature {
  UniqueLoaded<HCERTSTORE, CloseCertStore> store;
  UniqueLoaded<HCRYPTMSG, crypt_library::CryptMsgClose> message;
};

DWORD OpenEmbeddedSignature(const std::wstring& path, EmbeddedSignature& signature) {
  DWORD contentType = 0;
  const Win32Result opened = crypt_library::CryptQueryObject(
      kQueryObjectType, path.c_str(), kQueryExpectedContent, kQueryExpectedFormat, &contentType,
      signature.store.put(), signature.message.put());
  if (!opened) {
    PrimitiveLogger::Log(kTag, "qvVerifySignature;  CryptQueryObject() failed, error: 0x%x",
                         static_cast<unsigned>(opened.error()));
    return opened.error();
  }
  // A detached or catalog signature says nothing about this file's bytes.
  if (contentType != kEmbeddedSignatureContent) {
    PrimitiveLogger::Log(kTag, "qvVerifySignature;  embedded signature not found");
    return kStatusNotFound;
  }
  return kStatusAccepted;
}

DWORD LogSignerInfoFailure(const Win32Result& failure) {
  PrimitiveLogger::Log(kTag, "qvVerifySignature;  CryptMsgGetParam() failed, error: 0x%x",
                       static_cast<unsigned>(failure.error()));
  return failure.error();
}

// The first signer's information (a CMSG_SIGNER_INFO and the data it points
// into), in one buffer.
DWORD ReadFirstSigner(HCRYPTMSG message, std::unique_ptr<BYTE[]>& signerInfo) {
  DWORD size = 0;
  const Win32Result sized = crypt_library::CryptMsgGetParam(message, CMSG_SIGNER_INFO_PARAM,
                                                            kFirstSignerIndex, nullptr, &size);
  if (!sized) return LogSignerInfoFailure(sized);
  signerInfo.reset(new (std::nothrow) BYTE[size]);
  if (!signerInfo) {
    PrimitiveLogger::Log(kTag, "qvVerifySignature;  malloc( %d ) failed", static_cast<int>(size));
    return kStatusOutOfMemory;
  }
  const Win32Result read = crypt_library::CryptMsgGetParam(
      message, CMSG_SIGNER_INFO_PARAM, kFirstSignerIndex, signerInfo.get(), &size);
  if (!read) {
    signerInfo.reset();
    return LogSignerInfoFailure(read);
  }
  return kStatusAccepted;
}

DWORD FindSignerCertificate(
    HCERTSTORE store, const CMSG_SIGNER_INFO& signer,
    UniqueLoaded<PCCERT_CONTEXT, crypt_library::CertFreeCertificateContext>& certificate) {
  CERT_INFO wanted = {};
  wanted.Issuer = signer.Issuer;
  wanted.SerialNumber = signer.SerialNumber;
  const Win32Result found = crypt_library::CertFindCertificateInStore(
      store, kCertificateEncoding, CERT_FIND_SUBJECT_CERT, &wanted, certificate.put());
  if (!found) {
    PrimitiveLogger::Log(kTag,
                         "qvVerifySignature;  CertFindCertificateInStore() failed, error: 0x%x",
                         static_cast<unsigned>(found.error()));
    return found.error();
  }
  return kStatusAccepted;
}

DWORD ReadSimpleDisplayName(PCCERT_CONTEXT certificate, std::string& name) {
  DWORD length = 0;
  if (!crypt_library::CertGetNameStringA(certificate, CERT_NAME_SIMPLE_DISPLAY_TYPE, nullptr, 0,
                                         &length)) {
    PrimitiveLogger::Log(kTag, "qvVerifySignature;  CertGetNameString() failed, error: 0x%x",
                         static_cast<unsigned>(kStatusNotFound));
    return kStatusNotFound;
  }
  const std::unique_ptr<char[]> buffer(new (std::nothrow) char[length]);
  if (!buffer) {
    PrimitiveLogger::Log(kTag, "qvVerifySignature;  malloc(%d) failed.\n",
                         static_cast<int>(length));
    return kStatusOutOfMemory;
  }
  const Win32Result read = crypt_library::CertGetNameStringA(
      certificate, CERT_NAME_SIMPLE_DISPLAY_TYPE, buffer.get(), length, nullptr);
  if (!read) {
    PrimitiveLogger::Log(kTag, "qvVerifySignature;  CertGetNameString() failed, error: 0x%x",
                         static_cast<unsigned>(read.error()));
    return kStatusNotFound;
  }
  name = buffer.get();
  return kStatusAccepted;
}

// Exact, case-sensitive comparison in place order. `matched` is left null
// when no name was supplied and the test is skipped.
DWORD TestSignerName(const std::string& signerName, const AcceptedNames& accepted,
                     const std::string*& matched) {
  bool supplied = false;
  for (const std::string& name : accepted) {
    if (name.empty()) continue;
    supplied = true;
    if (signerName == name) {
      matched = &name;
      return kStatusAccepted;
    }
  }
  const std::wstring first = AnsiToWide(accepted[0]);
  const std::wstring second = AnsiToWide(accepted[1]);
  if (supplied) {
    PrimitiveLogger::Log(kTag, "qvVerifySignature;  not signed by '%ls' or '%ls'", first.c_str(),
                         second.c_str());
    return kStatusNoTrustedSigner;
  }
  PrimitiveLogger::Log(kTag, "qvVerifySignature;  Skipping Signer Name validation '%ls' or '%ls'",
                       first.c_str(), second.c_str());
  return kStatusAccepted;
}

// Loaded for each check and released after it, so that a check that cannot
// load it says so in its own log lines every time.
SystemLibrary LoadTrustLibrary() {
  return SystemLibrary::Load(kTrustLibraryName, {kTag, "qvVerifySignature;  "});
}

// The platform's verdict, taken without user interface, without revocation
// checks and without state kept for a closing call.
DWORD CheckTrust(const std::wstring& path) {
  const SystemLibrary library = LoadTrustLibrary();
  if (!library) return kStatusNoTrustedSigner;
  const auto verifyTrust =
      AsFunction<decltype(&::WinVerifyTrust)>(library.Find({kTrustFunctionName, 0}));
  if (verifyTrust == nullptr) return kStatusNoTrustedSigner;

  WINTRUST_FILE_INFO file = {};
  file.cbStruct = sizeof(file);
  file.pcwszFilePath = path.c_str();

  FullWintrustData trust = {};
  trust.cbStruct = sizeof(trust);
  trust.dwUIChoice = WTD_UI_NONE;
  trust.fdwRevocationChecks = WTD_REVOKE_NONE;
  trust.dwUnionChoice = WTD_CHOICE_FILE;
  trust.pFile = &file;
  trust.dwStateAction = WTD_STATEACTION_IGNORE;
  trust.dwProvFlags = WTD_REVOCATION_CHECK_NONE;
  trust.dwUIContext = WTD_UICONTEXT_EXECUTE;

  GUID action = WINTRUST_ACTION_GENERIC_VERIFY_V2;
  const LONG verdict = verifyTrust(nullptr, &action, &trust);
  if (verdict != 0) {
    PrimitiveLogger::Log(kTag, "WinVerifyTrust() failed, 0x%08X", static_cast<unsigned>(verdict));
    return static_cast<DWORD>(verdict);
  }
  return kStatusAccepted;
}

// Every step's owner is released when this returns, before the outcome is
// logged.
DWORD VerifyEmbeddedSignature(const std::string& filePath, const AcceptedNames& accepted) {
  const std::wstring widePath = AnsiToWide(filePath);

  EmbeddedSignature signature;
  DWORD status = OpenEmbeddedSignature(widePath, signature);
  if (status != kStatusAccepted) return status;

  std::unique_ptr<BYTE[]> signerInfo;
  status = ReadFirstSigner(signature.message.get(), signerInfo);
  if (status != kStatusAccepted) return status;

  UniqueLoaded<PCCERT_CONTEXT, crypt_library::CertFreeCertificateContext> certificate;
  status = FindSignerCertificate(signature.store.get(),
                                 *reinterpret_cast<const CMSG_SIGNER_INFO*>(signerInfo.get()),
                                 certificate);
  if (status != kStatusAccepted) return status;

  std::string signerName;
  status = ReadSimpleDisplayName(certificate.get(), signerName);
  if (status != kStatusAccepted) return status;

  const std::string* matched = nullptr;
  status = TestSignerName(signerName, accepted, matched);
  if (status != kStatusAccepted) return status;

  status = CheckTrust(widePath);
  if (status == kStatusAccepted && matched != nullptr) {
    PrimitiveLogger::Log(kTag, "qvVerifySignature;  %s signed by %s and verified", filePath.c_str(),
                         matched->c_str());
  }
  return status;
}

// Names may arrive with bytes after a NUL; only the text before it counts.
std::string UpToFirstNul(const std::string& text) { return std::string(text.c_str()); }

}  // namespace

bool qvVerifySignature(const std::string& filePath, const std::string& signerName1,
                       const std::string& signerName2, const std::string& signerName3) {
  PrimitiveLogger::Log(kTag, ">>>");
  const AcceptedNames accepted = {UpToFirstNul(signerName1), UpToFirstNul(signerName2),
                                  UpToFirstNul(signerName3)};
  PrimitiveLogger::Log(kTag, "qvVerifySignature;  verifying signature on %s", filePath.c_str());
  const DWORD status = VerifyEmbeddedSignature(filePath, accepted);
  PrimitiveLogger::Log(kTag, "qvVerifySignature;  verifySignature complete with result %d",
                       status == kStatusAccepted ? 1 : 0);
  return status == kStatusAccepted;
}
