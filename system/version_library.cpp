#include "system/version_library.h"

#include "system/system_constants.h"
#include "system/system_library.h"

namespace {

constexpr char kTag[] = "LoadVersionLibrary";

struct VersionFunctions {
  SystemLibrary library;
  decltype(&::GetFileVersionInfoSizeA) getInfoSize = nullptr;
  decltype(&::GetFileVersionInfoA) getInfo = nullptr;
  decltype(&::VerQueryValueA) queryValue = nullptr;
};

VersionFunctions LoadVersionLibrary() noexcept {
  VersionFunctions functions;
  functions.library = SystemLibrary::Load(system_constants::kVersionLibraryName, {kTag, ""});
  const SystemLibrary& library = functions.library;
  FindSystemFunction(library, "GetFileVersionInfoSizeA", functions.getInfoSize);
  FindSystemFunction(library, "GetFileVersionInfoA", functions.getInfo);
  FindSystemFunction(library, "VerQueryValueA", functions.queryValue);
  return functions;
}

const VersionFunctions& Version() { return LoadedOnce<VersionFunctions, LoadVersionLibrary>(); }

}  // namespace

namespace version_library {

DWORD GetFileVersionInfoSizeA(LPCSTR fileName, LPDWORD handle) {
  const VersionFunctions& version = Version();
  return CallSystemFunction(version.library, version.getInfoSize, DWORD{0}, fileName, handle);
}

BOOL GetFileVersionInfoA(LPCSTR fileName, DWORD handle, DWORD size, LPVOID data) {
  const VersionFunctions& version = Version();
  return CallSystemFunction(version.library, version.getInfo, BOOL{FALSE}, fileName, handle, size,
                            data);
}

BOOL VerQueryValueA(LPCVOID block, LPCSTR subBlock, LPVOID* buffer, PUINT length) {
  const VersionFunctions& version = Version();
  return CallSystemFunction(version.library, version.queryValue, BOOL{FALSE}, block, subBlock,
                            buffer, length);
}

}  // namespace version_library
