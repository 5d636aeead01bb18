#include "system/msi_library.h"

#include <msi.h>

#include "system/system_constants.h"
#include "system/system_library.h"

using namespace system_constants;

namespace {

constexpr char kTag[] = "LoadMsiLibrary";

struct MsiFunctions {
  SystemLibrary library;
  decltype(&::MsiEnumRelatedProductsA) enumRelatedProducts = nullptr;
  decltype(&::MsiGetProductInfoA) getProductInfo = nullptr;
};

MsiFunctions LoadMsiLibrary() noexcept {
  MsiFunctions functions;
  functions.library = SystemLibrary::Load(kMsiLibraryName, {kTag, ""});
  // The helper binds these two by ordinal, by design: Windows' msi.dll
  // exports them under ordinals that do not change between releases.
  FindSystemFunction(functions.library, kMsiEnumRelatedProductsAOrdinal,
                     functions.enumRelatedProducts);
  FindSystemFunction(functions.library, kMsiGetProductInfoAOrdinal, functions.getProductInfo);
  return functions;
}

const MsiFunctions& Msi() { return LoadedOnce<MsiFunctions, LoadMsiLibrary>(); }

}  // namespace

namespace msi_library {

UINT MsiEnumRelatedProductsA(LPCSTR upgradeCode, DWORD reserved, DWORD productIndex,
                             LPSTR productBuffer) {
  const MsiFunctions& msi = Msi();
  if (msi.enumRelatedProducts == nullptr) return msi.library.UnavailableError();
  return msi.enumRelatedProducts(upgradeCode, reserved, productIndex, productBuffer);
}

UINT MsiGetProductInfoA(LPCSTR product, LPCSTR attribute, LPSTR valueBuffer,
                        LPDWORD valueBufferSize) {
  const MsiFunctions& msi = Msi();
  if (msi.getProductInfo == nullptr) return msi.library.UnavailableError();
  return msi.getProductInfo(product, attribute, valueBuffer, valueBufferSize);
}

}  // namespace msi_library
