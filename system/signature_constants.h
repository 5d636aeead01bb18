// Status values, names and platform parameters of the signature check.
#pragma once

#include <windows.h>
#include <wincrypt.h>
#include <wintrust.h>

namespace signature_constants {

// Outcomes of the check besides the platform's own error codes.
constexpr DWORD kStatusAccepted = 0;
constexpr DWORD kStatusNotFound = 0x80092004;         // CRYPT_E_NOT_FOUND
constexpr DWORD kStatusOutOfMemory = 0x8007000E;      // E_OUTOFMEMORY
constexpr DWORD kStatusNoTrustedSigner = 0x8009202B;  // CRYPT_E_NO_TRUSTED_SIGNER

// Locating the embedded signature and its first signer.
constexpr DWORD kQueryObjectType = CERT_QUERY_OBJECT_FILE;
constexpr DWORD kQueryExpectedContent = CERT_QUERY_CONTENT_FLAG_PKCS7_SIGNED_EMBED;
constexpr DWORD kQueryExpectedFormat = CERT_QUERY_FORMAT_FLAG_BINARY;
constexpr DWORD kEmbeddedSignatureContent = CERT_QUERY_CONTENT_PKCS7_SIGNED_EMBED;
constexpr DWORD kFirstSignerIndex = 0;
constexpr DWORD kCertificateEncoding = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;

// The trust library and its entry point, reached at run time.
constexpr char kTrustLibraryName[] = "wintrust.dll";
constexpr char kTrustFunctionName[] = "WinVerifyTrust";

}  // namespace signature_constants
