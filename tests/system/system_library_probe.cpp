// Makes each call the helper takes from a library loaded at run time, twice,
// in a process of its own, and logs what each returned under "probe":
//   system_library_probe <file with a version resource> <signed file>
// Exit code 0; 99 is a usage error.
#include <windows.h>

#include <string>

#include "logging/primitive_logger.h"
#include "remediation/version_checks.h"
#include "system/dll_search.h"
#include "system/library_calls.h"
#include "system/signature_verification.h"

namespace {

constexpr char kTag[] = "probe";
// An upgrade code and a product code no package has.
constexpr char kUnusedUpgradeCode[] = "{6D1E2F3A-4B5C-4D6E-8F70-8192A3B4C5D6}";
constexpr char kUnusedProductCode[] = "{0F1E2D3C-4B5A-4697-8877-665544332211}";

void CallEachOnce(const char* versionedFile, const char* signedFile) {
  char version[32] = {};
  const uint32_t versionStatus = getFileVersion(versionedFile, version, sizeof(version));
  PrimitiveLogger::Log(kTag, "version=[%s] status=%u", version,
                       static_cast<unsigned>(versionStatus));

  char productCode[39] = {};
  const UINT related = msi_library::MsiEnumRelatedProductsA(kUnusedUpgradeCode, 0, 0, productCode);
  char name[64] = {};
  DWORD nameSize = sizeof(name);
  const UINT info =
      msi_library::MsiGetProductInfoA(kUnusedProductCode, "ProductName", name, &nameSize);
  PrimitiveLogger::Log(kTag, "related=%u info=%u", related, info);

  const bool accepted = qvVerifySignature(signedFile, "Tessaly, LLC", "", "");
  PrimitiveLogger::Log(kTag, "signature=%d", accepted ? 1 : 0);
}

}  // namespace

int main(int argc, char* argv[]) {
  if (argc != 3) return 99;
  // Started as the helper is, with the DLL search limited before anything
  // ran (linking the lock's file is what does it).
  LogDllSearchLock();
  CallEachOnce(argv[1], argv[2]);
  CallEachOnce(argv[1], argv[2]);
  ShutdownLogger();
  return 0;
}
