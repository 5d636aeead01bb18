// Checks that an installer file carries a trusted embedded Authenticode
// signature from one of the accepted signers.
#pragma once

#include <string>

// True when `filePath` carries an embedded signature whose first signer's
// certificate has one of the given simple display names (compared exactly;
// an empty name holds no place, and with all three empty any signer passes)
// and the platform's trust check, taken without user interface and without
// revocation checks, accepts the file. The name test comes first: a file
// from another signer is rejected without a trust check. Every failure is
// logged; nothing is thrown for a rejected file.
bool qvVerifySignature(const std::string& filePath, const std::string& signerName1,
                       const std::string& signerName2, const std::string& signerName3);
