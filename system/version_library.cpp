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

// Loaded by the first call, from any thread, and kept while the process
// runs. The initialiser cannot throw, so a failed load is not retried: every
// later call fails the same way.
const VersionFunctions& Version() {
  static const VersionFunctions functions = LoadVersionLibrary();
  return functions;
}

}  // namespace

namespace version_library {

DWORD GetFileVersionInfoSizeA(LPCSTR fileName, LPDWORD handle) {
  const VersionFunctions& version = Version();
  if (version.getInfoSize == nullptr) return FailUnavailable<DWORD>(version.library, 0);
  return version.getInfoSize(fileName, handle);
}

BOOL GetFileVersionInfoA(LPCSTR fileName, DWORD handle, DWORD size, LPVOID data) {
  const VersionFunctions& version = Version();
  if (version.getInfo == nullptr) return FailUnavailable<BOOL>(version.library, FALSE);
  return version.getInfo(fileName, handle, size, data);
}

BOOL VerQueryValueA(LPCVOID block, LPCSTR subBlock, LPVOID* buffer, PUINT length) {
  const VersionFunctions& version = Version();
  if (version.queryValue == nullptr) return FailUnavailable<BOOL>(version.library, FALSE);
  return version.queryValue(block, subBlock, buffer, length);
}

}  // namespace version_library
