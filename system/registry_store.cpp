#include "system/registry_store.h"

#include <windows.h>

#include <cstring>
#include <memory>
#include <type_traits>

#include "logging/log_text.h"
#include "logging/primitive_logger.h"
#include "logging/unique_any.h"
#include "system/system_constants.h"

using namespace system_constants;

namespace {

using UniqueRegKey = UniqueAny<NullableTraits<HKEY, RegCloseKey>>;

// The root key of a hive number; null for any other number.
HKEY HiveRoot(int hive) {
  switch (hive) {
    case kHiveCurrentUser:
      return HKEY_CURRENT_USER;
    case kHiveLocalMachine:
      return HKEY_LOCAL_MACHINE;
    case kHiveClassesRoot:
      return HKEY_CLASSES_ROOT;
    default:
      return nullptr;
  }
}

// Opens `subKey` for reading; null on any failure, which the caller treats
// like a missing value.
UniqueRegKey OpenForRead(HKEY root, const std::string& subKey) {
  HKEY key = nullptr;
  if (root == nullptr ||
      RegOpenKeyExA(root, subKey.c_str(), 0, KEY_READ | kRegistryView, &key) != ERROR_SUCCESS) {
    return UniqueRegKey();
  }
  return UniqueRegKey(key);
}

// Opens `subKey` of HKEY_CURRENT_USER for writing, creating it and its
// missing parents when it does not exist. Null with the error in
// GetLastError when neither works.
UniqueRegKey OpenOrCreateForWrite(const std::string& subKey) {
  HKEY key = nullptr;
  if (RegOpenKeyExA(HKEY_CURRENT_USER, subKey.c_str(), 0, KEY_WRITE | kRegistryView, &key) ==
      ERROR_SUCCESS) {
    return UniqueRegKey(key);
  }
  const LSTATUS created =
      RegCreateKeyExA(HKEY_CURRENT_USER, subKey.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                      KEY_WRITE | kRegistryView, nullptr, &key, nullptr);
  if (created != ERROR_SUCCESS) {
    // Registry calls return their error rather than setting the thread's;
    // the write's outcome line reports it through GetLastError.
    SetLastError(static_cast<DWORD>(created));
    return UniqueRegKey();
  }
  return UniqueRegKey(key);
}

}  // namespace

std::string GetStringFromReg(int hive, const std::string& valueName, const std::string& defaultText,
                             const std::string& subKey) {
  std::string result;
  if (const UniqueRegKey key = OpenForRead(HiveRoot(hive), subKey)) {
    char buffer[kRegValueBufferSize] = {};
    DWORD size = kRegValueBufferSize;
    // Data longer than the buffer fails with ERROR_MORE_DATA and gives the
    // default; any type is taken as text up to its first NUL.
    if (RegQueryValueExA(key.get(), valueName.c_str(), nullptr, nullptr,
                         reinterpret_cast<BYTE*>(buffer), &size) == ERROR_SUCCESS) {
      result.assign(buffer, strnlen(buffer, sizeof(buffer)));
    }
  }
  if (result.empty()) result = defaultText;
  PrimitiveLogger::Log("GetStringFromReg", "Status of %s in reg is %s", valueName.c_str(),
                       result.c_str());
  return result;
}

bool WriteValToReg(const std::string& valueName, const std::string& valueText,
                   const std::string& subKey) {
  constexpr char kTag[] = "WriteValToReg";
  PrimitiveLogger::Log(kTag, ">>>  Writing %s with value %s to reg", valueName.c_str(),
                       valueText.c_str());
  const UniqueRegKey key = OpenOrCreateForWrite(subKey);
  bool stored = false;
  if (key) {
    const LSTATUS status = RegSetValueExA(key.get(), valueName.c_str(), 0, REG_SZ,
                                          reinterpret_cast<const BYTE*>(valueText.c_str()),
                                          static_cast<DWORD>(valueText.size() + 1));
    stored = status == ERROR_SUCCESS;
    // Registry calls return their error rather than set the thread's: the
    // outcome line would otherwise show an earlier call's error, also after
    // a successful write.
    SetLastError(static_cast<DWORD>(status));
  }
  PrimitiveLogger::Log(kTag, "<<<  Reg Write %s with value %s to reg:  %s; LastError:  %lu",
                       valueName.c_str(), valueText.c_str(), BoolText(stored), GetLastError());
  return stored;
}

unsigned long WriteTextValuesToReg(const std::string& subKey,
                                   const std::vector<std::pair<std::string, std::string>>& values) {
  const UniqueRegKey key = OpenOrCreateForWrite(subKey);
  if (!key) return GetLastError();
  for (const auto& [name, text] : values) {
    const LSTATUS status = RegSetValueExA(key.get(), name.c_str(), 0, REG_SZ,
                                          reinterpret_cast<const BYTE*>(text.c_str()),
                                          static_cast<DWORD>(text.size() + 1));
    if (status != ERROR_SUCCESS) return static_cast<unsigned long>(status);
  }
  return ERROR_SUCCESS;
}
