// Wine's own setting of which DLLs a program loads, for tests that must
// change it for one program: a native copy first, or a library switched off.
#pragma once

#include <windows.h>

#include <cstring>
#include <string>
#include <vector>

#include "tests/support/scoped_registry_tree.h"
#include "tests/support/test_support.h"

namespace test_support {

// Wine's load order of some libraries ("msi.dll" sets "msi") for programs of
// one file name, in its per-program key
// HKCU\Software\Wine\AppDefaults\<name>\DllOverrides, put back as it was
// afterwards. Not the WINEDLLOVERRIDES variable: Wine reads that from the
// Unix environment a process starts with, which a Windows program cannot
// change for its children.
class ScopedLoadOrder {
 public:
  ScopedLoadOrder(const std::string& programName, const std::vector<std::string>& libraries,
                  const char* order)
      : saved_(HKEY_CURRENT_USER, kAppDefaults, programName, 0),
        key_(std::string(kAppDefaults) + "\\" + programName + "\\DllOverrides") {
    for (const std::string& library : libraries) {
      values_.push_back(library.substr(0, library.find('.')));
    }
    for (const std::string& value : values_) SetRegistryText(HKEY_CURRENT_USER, key_, value, order);
  }

  // Whether every library's order reads back as `order`.
  bool Holds(const char* order) const {
    const std::string stored(order, std::strlen(order) + 1);  // with its NUL
    for (const std::string& value : values_) {
      const auto read = ReadRegistryValue(HKEY_CURRENT_USER, key_, value);
      if (!read || read->type != REG_SZ || read->data != stored) return false;
    }
    return true;
  }

 private:
  static constexpr char kAppDefaults[] = "Software\\Wine\\AppDefaults";

  registry_test::ScopedRegistryTree saved_;
  std::string key_;
  std::vector<std::string> values_;
};

}  // namespace test_support
