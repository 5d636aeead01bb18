// Registry values written and read the way the tests need them: any type,
// any view, the data as stored.
#pragma once

#include <windows.h>

#include <optional>
#include <string>

namespace test_support {

inline bool SetValue(HKEY root, const std::string& subKey, const std::string& name, DWORD type,
                     const std::string& data, REGSAM view = 0) {
  HKEY key = nullptr;
  if (RegCreateKeyExA(root, subKey.c_str(), 0, nullptr, 0, KEY_WRITE | view, nullptr, &key,
                      nullptr) != ERROR_SUCCESS) {
    return false;
  }
  const bool stored =
      RegSetValueExA(key, name.c_str(), 0, type, reinterpret_cast<const BYTE*>(data.data()),
                     static_cast<DWORD>(data.size())) == ERROR_SUCCESS;
  RegCloseKey(key);
  return stored;
}

// REG_SZ data as the registry stores it, with the terminating NUL.
inline bool SetText(HKEY root, const std::string& subKey, const std::string& name,
                    const std::string& text, REGSAM view = 0) {
  return SetValue(root, subKey, name, REG_SZ, std::string(text.c_str(), text.size() + 1), view);
}

struct StoredValue {
  DWORD type = REG_NONE;
  std::string data;
};

inline std::optional<StoredValue> ReadRaw(HKEY root, const std::string& subKey,
                                          const std::string& name) {
  HKEY key = nullptr;
  if (RegOpenKeyExA(root, subKey.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return std::nullopt;
  StoredValue value;
  char buffer[1024] = {};
  DWORD size = sizeof(buffer);
  const LSTATUS status = RegQueryValueExA(key, name.c_str(), nullptr, &value.type,
                                          reinterpret_cast<BYTE*>(buffer), &size);
  RegCloseKey(key);
  if (status != ERROR_SUCCESS) return std::nullopt;
  value.data.assign(buffer, size);
  return value;
}

}  // namespace test_support
