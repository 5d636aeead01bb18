// Moves a registry key tree aside for the length of a test and puts it back
// afterwards, so that tests can start from a missing key and leave the
// machine as they found it.
#pragma once

#include <windows.h>

#include <string>

namespace registry_test {

class ScopedRegistryTree {
 public:
  // `name` below `root`\`parent`, seen through `view` (0, KEY_WOW64_32KEY or
  // KEY_WOW64_64KEY). The tree is copied to a backup key under
  // HKEY_CURRENT_USER and removed.
  ScopedRegistryTree(HKEY root, const std::string& parent, const std::string& name, REGSAM view)
      : root_(root), parent_(parent), name_(name), view_(view) {
    static unsigned counter = 0;
    backup_ = "SOFTWARE\\RemedionTestBackup\\" + std::to_string(GetCurrentProcessId()) + "_" +
              std::to_string(++counter);
    HKEY source = nullptr;
    if (RegOpenKeyExA(root_, Original().c_str(), 0, KEY_READ | view_, &source) != ERROR_SUCCESS) {
      return;
    }
    HKEY backup = nullptr;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, backup_.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                        &backup, nullptr) == ERROR_SUCCESS) {
      existed_ = RegCopyTreeA(source, nullptr, backup) == ERROR_SUCCESS;
      RegCloseKey(backup);
    }
    RegCloseKey(source);
    if (existed_) DeleteOriginal();
  }

  ~ScopedRegistryTree() {
    DeleteOriginal();
    if (!existed_) return;
    HKEY backup = nullptr;
    HKEY restored = nullptr;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, backup_.c_str(), 0, KEY_READ, &backup) == ERROR_SUCCESS &&
        RegCreateKeyExA(root_, Original().c_str(), 0, nullptr, 0, KEY_ALL_ACCESS | view_, nullptr,
                        &restored, nullptr) == ERROR_SUCCESS) {
      RegCopyTreeA(backup, nullptr, restored);
    }
    if (restored) RegCloseKey(restored);
    if (backup) RegCloseKey(backup);
    RegDeleteTreeA(HKEY_CURRENT_USER, backup_.c_str());
    RegDeleteKeyA(HKEY_CURRENT_USER, "SOFTWARE\\RemedionTestBackup");
  }

  ScopedRegistryTree(const ScopedRegistryTree&) = delete;
  ScopedRegistryTree& operator=(const ScopedRegistryTree&) = delete;

 private:
  std::string Original() const { return parent_ + "\\" + name_; }

  void DeleteOriginal() {
    HKEY parent = nullptr;
    if (RegOpenKeyExA(root_, parent_.c_str(), 0, KEY_ALL_ACCESS | view_, &parent) !=
        ERROR_SUCCESS) {
      return;
    }
    RegDeleteTreeA(parent, name_.c_str());
    RegDeleteKeyExA(parent, name_.c_str(), view_, 0);
    RegCloseKey(parent);
  }

  HKEY root_;
  std::string parent_;
  std::string name_;
  REGSAM view_;
  std::string backup_;
  bool existed_ = false;
};

}  // namespace registry_test
