// All values of one registry key, read and written back exactly (names,
// types and bytes), and kept in a file between the two: what it takes to put
// a program's registration back as it was.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "logging/win32_result.h"

struct RegistryValue {
  std::wstring name;
  DWORD type = REG_NONE;
  std::string data;  // the bytes as stored
};

// The values of root\subKey (subkeys are not read).
Win32Result ReadKeyValues(HKEY root, const std::wstring& subKey, std::vector<RegistryValue>& values,
                          const char* tag);

// Makes root\subKey hold exactly `values`: the key and what is below it are
// removed first, then made anew with them.
Win32Result ReplaceKey(HKEY root, const std::wstring& subKey, const std::vector<RegistryValue>& values,
                       const char* tag);

// The names of root\subKey's subkeys; none when the key is missing.
std::vector<std::wstring> SubKeyNames(HKEY root, const std::wstring& subKey);

// One text of a key name and its values, and back. Decoding takes the text
// as untrusted: any length or count that runs past its end makes it fail.
std::string EncodeKey(const std::wstring& keyName, const std::vector<RegistryValue>& values);
bool DecodeKey(const std::string& text, std::wstring& keyName, std::vector<RegistryValue>& values);
