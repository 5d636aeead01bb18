#include "tests/support/user_folders.h"

#include "tests/support/scenario_checks.h"

#include <shlobj.h>

#include <filesystem>

namespace test_support {

namespace {

constexpr wchar_t kUserShellFolders[] =
    L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\User Shell Folders";
constexpr wchar_t kAppDataValue[] = L"AppData";

// Exact narrow form, or empty when a character has no counterpart.
std::string Narrow(const std::wstring& text) {
  BOOL lossy = FALSE;
  const int length =
      WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, text.data(), static_cast<int>(text.size()),
                          nullptr, 0, nullptr, &lossy);
  std::string narrow(static_cast<size_t>(length > 0 ? length : 0), '\0');
  WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, text.data(), static_cast<int>(text.size()),
                      narrow.data(), length, nullptr, &lossy);
  return lossy ? std::string() : narrow;
}

std::optional<std::wstring> ReadShellFolder() {
  wchar_t value[MAX_PATH] = {};
  DWORD size = sizeof(value);
  if (RegGetValueW(HKEY_CURRENT_USER, kUserShellFolders, kAppDataValue,
                   RRF_RT_REG_EXPAND_SZ | RRF_RT_REG_SZ | RRF_NOEXPAND, nullptr, value,
                   &size) != ERROR_SUCCESS) {
    return std::nullopt;
  }
  return std::wstring(value);
}

void WriteShellFolder(const std::wstring& folder) {
  RegSetKeyValueW(HKEY_CURRENT_USER, kUserShellFolders, kAppDataValue, REG_EXPAND_SZ,
                  folder.c_str(), static_cast<DWORD>((folder.size() + 1) * sizeof(wchar_t)));
}

}  // namespace

ScopedUserFolders::ScopedUserFolders(const std::wstring& userName)
    : home_(L"C:\\users\\" + userName),
      roaming_(home_ + L"\\AppData\\Roaming"),
      temp_(home_ + L"\\AppData\\Local\\Temp"),
      roamingNarrow_(Narrow(roaming_)),
      tempNarrow_(Narrow(temp_ + L"\\")),
      previousShellFolder_(ReadShellFolder()) {
  std::error_code ignored;
  std::filesystem::create_directories(std::filesystem::path(roaming_), ignored);
  std::filesystem::create_directories(std::filesystem::path(temp_), ignored);
  WriteShellFolder(roaming_);
  appData_.emplace(L"APPDATA", roaming_);
  tempVar_.emplace(L"TEMP", temp_);
  tmpVar_.emplace(L"TMP", temp_);
}

ScopedUserFolders::~ScopedUserFolders() {
  if (previousShellFolder_) {
    WriteShellFolder(*previousShellFolder_);
  } else {
    RegDeleteKeyValueW(HKEY_CURRENT_USER, kUserShellFolders, kAppDataValue);
  }
  tmpVar_.reset();
  tempVar_.reset();
  appData_.reset();
  std::error_code ignored;
  std::filesystem::remove_all(std::filesystem::path(home_), ignored);
}

bool ScopedUserFolders::planted() const {
  wchar_t shellFolder[MAX_PATH] = {};
  return !roamingNarrow_.empty() && !tempNarrow_.empty() &&
         GetFileAttributesW(temp_.c_str()) != INVALID_FILE_ATTRIBUTES &&
         SUCCEEDED(
             SHGetFolderPathW(nullptr, CSIDL_APPDATA, nullptr, SHGFP_TYPE_CURRENT, shellFolder)) &&
         _wcsicmp(shellFolder, roaming_.c_str()) == 0;
}

std::string ScopedUserFolders::TempLeftovers() const { return FolderLeftovers(temp_); }

}  // namespace test_support
