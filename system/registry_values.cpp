#include "system/registry_values.h"

#include <cstdint>
#include <cstring>

#include "logging/ansi_text.h"
#include "logging/primitive_logger.h"
#include "logging/owners.h"

namespace {

// Registry limits: a value name has at most 16,383 characters.
constexpr DWORD kMaxValueNameChars = 16384;
constexpr uint32_t kMaxEncodedItems = 1024;

Win32Result Logged(const char* tag, const char* what, const std::wstring& key, LSTATUS status) {
  PrimitiveLogger::Log(tag, "%s HKCU\\%s:  %ld", what, WideToAnsi(key).c_str(),
                       static_cast<long>(status));
  return Win32Result::Failed(static_cast<DWORD>(status));
}

void PutNumber(std::string& out, uint32_t value) {
  out.append(reinterpret_cast<const char*>(&value), sizeof(value));
}
void PutBytes(std::string& out, const void* data, uint32_t size) {
  PutNumber(out, size);
  out.append(static_cast<const char*>(data), size);
}

// Reads from `text` at `position`; false when the text ends first.
bool GetNumber(const std::string& text, size_t& position, uint32_t& value) {
  if (text.size() - position < sizeof(value)) return false;
  std::memcpy(&value, text.data() + position, sizeof(value));
  position += sizeof(value);
  return true;
}
bool GetBytes(const std::string& text, size_t& position, std::string& bytes) {
  uint32_t size = 0;
  if (!GetNumber(text, position, size) || text.size() - position < size) return false;
  bytes.assign(text, position, size);
  position += size;
  return true;
}
bool GetWide(const std::string& text, size_t& position, std::wstring& wide) {
  std::string bytes;
  if (!GetBytes(text, position, bytes) || bytes.size() % sizeof(wchar_t) != 0) return false;
  wide.assign(reinterpret_cast<const wchar_t*>(bytes.data()), bytes.size() / sizeof(wchar_t));
  return true;
}

}  // namespace

Win32Result ReadKeyValues(HKEY root, const std::wstring& subKey, std::vector<RegistryValue>& values,
                          const char* tag) {
  values.clear();
  UniqueRegKey key;
  const LSTATUS opened = RegOpenKeyExW(root, subKey.c_str(), 0, KEY_READ, key.put());
  if (opened != ERROR_SUCCESS) return Logged(tag, "Unable to open", subKey, opened);
  for (DWORD index = 0;; ++index) {
    std::wstring name(kMaxValueNameChars, L'\0');
    DWORD nameChars = kMaxValueNameChars;
    DWORD type = REG_NONE;
    DWORD size = 0;
    LSTATUS status =
        RegEnumValueW(key.get(), index, name.data(), &nameChars, nullptr, &type, nullptr, &size);
    if (status == ERROR_NO_MORE_ITEMS) return Win32Result::Ok();
    if (status != ERROR_SUCCESS) return Logged(tag, "Unable to list the values of", subKey, status);
    name.resize(nameChars);
    std::string data(size, '\0');
    status = RegQueryValueExW(key.get(), name.c_str(), nullptr, &type,
                              reinterpret_cast<BYTE*>(data.data()), &size);
    if (status != ERROR_SUCCESS) return Logged(tag, "Unable to read a value of", subKey, status);
    data.resize(size);
    values.push_back({name, type, data});
  }
}

Win32Result ReplaceKey(HKEY root, const std::wstring& subKey,
                       const std::vector<RegistryValue>& values, const char* tag) {
  const LSTATUS removed = RegDeleteTreeW(root, subKey.c_str());
  if (removed != ERROR_SUCCESS && removed != ERROR_FILE_NOT_FOUND) {
    return Logged(tag, "Unable to clear", subKey, removed);
  }
  UniqueRegKey key;
  const LSTATUS created =
      RegCreateKeyExW(root, subKey.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, key.put(), nullptr);
  if (created != ERROR_SUCCESS) return Logged(tag, "Unable to make", subKey, created);
  for (const RegistryValue& value : values) {
    const LSTATUS set = RegSetValueExW(key.get(), value.name.c_str(), 0, value.type,
                                       reinterpret_cast<const BYTE*>(value.data.data()),
                                       static_cast<DWORD>(value.data.size()));
    if (set != ERROR_SUCCESS) return Logged(tag, "Unable to write a value of", subKey, set);
  }
  return Win32Result::Ok();
}

std::vector<std::wstring> SubKeyNames(HKEY root, const std::wstring& subKey) {
  std::vector<std::wstring> names;
  UniqueRegKey key;
  if (RegOpenKeyExW(root, subKey.c_str(), 0, KEY_READ, key.put()) != ERROR_SUCCESS) return names;
  for (DWORD index = 0;; ++index) {
    wchar_t name[256] = {};  // a key name has at most 255 characters
    DWORD chars = 256;
    if (RegEnumKeyExW(key.get(), index, name, &chars, nullptr, nullptr, nullptr, nullptr) !=
        ERROR_SUCCESS) {
      return names;
    }
    names.emplace_back(name, chars);
  }
}

std::string EncodeKey(const std::wstring& keyName, const std::vector<RegistryValue>& values) {
  std::string out;
  PutBytes(out, keyName.data(), static_cast<uint32_t>(keyName.size() * sizeof(wchar_t)));
  PutNumber(out, static_cast<uint32_t>(values.size()));
  for (const RegistryValue& value : values) {
    PutBytes(out, value.name.data(), static_cast<uint32_t>(value.name.size() * sizeof(wchar_t)));
    PutNumber(out, value.type);
    PutBytes(out, value.data.data(), static_cast<uint32_t>(value.data.size()));
  }
  return out;
}

bool DecodeKey(const std::string& text, std::wstring& keyName, std::vector<RegistryValue>& values) {
  size_t position = 0;
  uint32_t count = 0;
  values.clear();
  if (!GetWide(text, position, keyName) || !GetNumber(text, position, count) ||
      count > kMaxEncodedItems) {
    return false;
  }
  for (uint32_t i = 0; i < count; ++i) {
    RegistryValue value;
    uint32_t type = 0;
    if (!GetWide(text, position, value.name) || !GetNumber(text, position, type) ||
        !GetBytes(text, position, value.data)) {
      return false;
    }
    value.type = type;
    values.push_back(std::move(value));
  }
  return position == text.size();
}
