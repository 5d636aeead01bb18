#include "system/registry_store.h"

#include <windows.h>

#include <cstring>
#include <memory>
#include <type_traits>

#include "logging/log_text.h"
#include "logging/primitive_logger.h"
#include "logging/owners.h"
#include "system/system_constants.h"

using namespace system_constants;

namespace {

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

// Registry calls return their error rather than set the thread's.
Win32Result RegistryResult(LSTATUS status) {
  return status == ERROR_SUCCESS ? Win32Result::Ok() : Win32Result::Failed(status);
}

// Opens `subKey` of HKEY_CURRENT_USER for writing, creating it and its
// missing parents when it does not exist.
Win32Result OpenOrCreateForWrite(const std::string& subKey, UniqueRegKey& key) {
  if (RegOpenKeyExA(HKEY_CURRENT_USER, subKey.c_str(), 0, KEY_WRITE | kRegistryView, key.put()) ==
      ERROR_SUCCESS) {
    return Win32Result::Ok();
  }
  return RegistryResult(RegCreateKeyExA(HKEY_CURRENT_USER, subKey.c_str(), 0, nullptr,
                                        REG_OPTION_NON_VOLATILE, KEY_WRITE | kRegistryView, nullptr,
                                        key.put(), nullptr));
}

Win32Result SetText(HKEY key, const std::string& name, const std::string& text) {
  return RegistryResult(RegSetValueExA(key, name.c_str(), 0, REG_SZ,
                                       reinterpret_cast<const BYTE*>(text.c_str()),
                                       static_cast<DWORD>(text.size() + 1)));
}

}  // namespace

std::string GetStringFromReg(int hive, const std::string& valueName, const std::string& defaultText,
                             const std::string& subKey) {
  std::string result;
  if (const UniqueRegKey key = OpenForRead(HiveRoot(hive), subKey)) {
    char buffer[kRegValueBufferSize] = {};
    DWORD size = kRegValueBufferSize;
    // The store's fixed 512 bytes are kept, not grown: a longer value has
    // always read as the default (ERROR_MORE_DATA). Any type is taken as
    // text up to its first NUL.
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
  UniqueRegKey key;
  Win32Result stored = OpenOrCreateForWrite(subKey, key);
  if (stored) stored = SetText(key.get(), valueName, valueText);
  // The outcome line's "LastError" is the registry's own result: registry
  // calls leave the thread's last error alone, so that would name an
  // earlier call's error, also after a successful write.
  PrimitiveLogger::Log(kTag, "<<<  Reg Write %s with value %s to reg:  %s; LastError:  %lu",
                       valueName.c_str(), valueText.c_str(), BoolText(stored.ok()), stored.error());
  return stored.ok();
}

Win32Result WriteTextValuesToReg(const std::string& subKey,
                                 const std::vector<std::pair<std::string, std::string>>& values) {
  UniqueRegKey key;
  Win32Result written = OpenOrCreateForWrite(subKey, key);
  for (auto value = values.begin(); written && value != values.end(); ++value) {
    written = SetText(key.get(), value->first, value->second);
  }
  return written;
}
