#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <regex>
#include <string>
#include <vector>

#include "system/ini_store.h"
#include "system/registry_store.h"
#include "system/registry_values.h"
#include "tests/support/component_profile.h"
#include "tests/support/test_support.h"
#include "tests/support/scoped_registry_tree.h"
#include "tests/system/system_probe.h"

using namespace test_support;
using registry_test::ScopedRegistryTree;

namespace {

constexpr char kTestKey[] = "SOFTWARE\\RemedionTest";

}  // namespace

TEST(GetStringFromReg, ReadsAnyTypeAsTextWithinItsBufferElseTheDefault) {
  ScopedRegistryTree test(HKEY_CURRENT_USER, "SOFTWARE", "RemedionTest", 0);
  EXPECT_EQ(GetStringFromReg(0, "Anything", "NoKey", kTestKey), "NoKey");

  ASSERT_TRUE(SetRegistryText(HKEY_CURRENT_USER, kTestKey, "Text", "22.7.3.1234"));
  ASSERT_TRUE(SetRegistryText(HKEY_CURRENT_USER, kTestKey, "Empty", ""));
  ASSERT_TRUE(SetRegistryValue(HKEY_CURRENT_USER, kTestKey, "Binary", REG_BINARY, "7.8"));
  ASSERT_TRUE(SetRegistryValue(HKEY_CURRENT_USER, kTestKey, "Embedded", REG_BINARY,
                               std::string("ab\0cd", 5)));
  ASSERT_TRUE(SetRegistryText(HKEY_CURRENT_USER, kTestKey, "Fits", std::string(511, 'f')));
  ASSERT_TRUE(SetRegistryText(HKEY_CURRENT_USER, kTestKey, "TooLong", std::string(512, 'l')));
  ASSERT_TRUE(SetRegistryValue(HKEY_CURRENT_USER, kTestKey, "FullBinary", REG_BINARY,
                               std::string(512, 'b')));

  EXPECT_EQ(GetStringFromReg(0, "Text", "d", kTestKey), "22.7.3.1234");
  EXPECT_EQ(GetStringFromReg(0, "Missing", "d", kTestKey), "d");
  EXPECT_EQ(GetStringFromReg(0, "Empty", "d", kTestKey), "d");
  EXPECT_EQ(GetStringFromReg(0, "Binary", "d", kTestKey), "7.8");
  EXPECT_EQ(GetStringFromReg(0, "Embedded", "d", kTestKey), "ab");
  // 511 characters and the NUL fill the 512-byte buffer; one more does not fit.
  EXPECT_EQ(GetStringFromReg(0, "Fits", "d", kTestKey), std::string(511, 'f'));
  EXPECT_EQ(GetStringFromReg(0, "TooLong", "d", kTestKey), "d");
  // Data that fills the buffer without a NUL is read to its end, not past it.
  EXPECT_EQ(GetStringFromReg(0, "FullBinary", "d", kTestKey), std::string(512, 'b'));
}

TEST(WriteValToReg, CreatesMissingKeysAndStoresNulTerminatedText) {
  ScopedRegistryTree test(HKEY_CURRENT_USER, "SOFTWARE", "RemedionTest", 0);
  const std::string deep = std::string(kTestKey) + "\\Parent\\Child";

  EXPECT_TRUE(WriteValToReg("Version", "22.7.2", deep));
  auto stored = ReadRegistryValue(HKEY_CURRENT_USER, deep, "Version");
  ASSERT_TRUE(stored.has_value());
  EXPECT_EQ(stored->type, static_cast<DWORD>(REG_SZ));
  EXPECT_EQ(stored->data, std::string("22.7.2\0", 7));

  // An existing key is opened, and the value replaced.
  EXPECT_TRUE(WriteValToReg("Version", "", deep));
  stored = ReadRegistryValue(HKEY_CURRENT_USER, deep, "Version");
  ASSERT_TRUE(stored.has_value());
  EXPECT_EQ(stored->data, std::string(1, '\0'));

  // A successful write reports the registry's own result, not an error an
  // earlier call left behind.
  const auto succeeded = RunProbe(kSystemProbe, "write-after-error " + Quoted(deep));
  ASSERT_TRUE(succeeded.child.finished);
  EXPECT_EQ(succeeded.child.exitCode, 10u);
  ASSERT_EQ(succeeded.messages.size(), 3u);
  EXPECT_EQ(
      succeeded.messages[2],
      "(WriteValToReg)  <<<  Reg Write ProbeValue with value abc to reg:  True; LastError:  0");

  // A key that cannot be created: the outcome line says False and carries
  // the registry's error, which the registry calls do not leave in
  // GetLastError themselves.
  const std::string tooLong = std::string(kTestKey) + "\\" + std::string(300, 'K');
  const auto failed = RunProbe(kSystemProbe, "write " + Quoted(tooLong));
  ASSERT_TRUE(failed.child.finished);
  EXPECT_EQ(failed.child.exitCode, 11u);
  ASSERT_EQ(failed.messages.size(), 2u);
  EXPECT_TRUE(std::regex_match(
      failed.messages[1],
      std::regex(
          R"(\(WriteValToReg\)  <<<  Reg Write ProbeValue with value abc to reg:  False; LastError:  [1-9]\d*)")))
      << failed.messages[1];
}

TEST(GetStringFromReg, ReadsMachineValuesThroughThe32BitView) {
  ScopedRegistryTree view32(HKEY_LOCAL_MACHINE, "SOFTWARE", "TESSALY", KEY_WOW64_32KEY);
  ScopedRegistryTree view64(HKEY_LOCAL_MACHINE, "SOFTWARE", "TESSALY", KEY_WOW64_64KEY);
  EXPECT_EQ(GetStringFromReg(1, "KDCVersion", "NotInREG", kRemedionKey), "NotInREG");

  // A 32-bit program does not see the 64-bit view's value.
  ASSERT_TRUE(
      SetRegistryText(HKEY_LOCAL_MACHINE, kRemedionKey, "KDCVersion", "9.9.9.64", KEY_WOW64_64KEY));
  EXPECT_EQ(GetStringFromReg(1, "KDCVersion", "NotInREG", kRemedionKey), "NotInREG");

  ASSERT_TRUE(SetRegistryText(HKEY_LOCAL_MACHINE, kRemedionKey, "KDCVersion", "22.7.3.4321",
                              KEY_WOW64_32KEY));
  EXPECT_EQ(GetStringFromReg(1, "KDCVersion", "NotInREG", kRemedionKey), "22.7.3.4321");
}

TEST(ReadIniText, ReadsAKeyOfASectionOrTheDefault) {
  ScopedTempDir folder;
  const std::string ini = folder.path() + "\\version.ini";

  EXPECT_EQ(ReadIniText(ini, "Tessaly", "DisplayVersion", "NotInINI"), "NotInINI");
  ASSERT_TRUE(WriteFileBytes(ini, "[Other]\r\nDisplayVersion=1.0\r\n"));
  EXPECT_EQ(ReadIniText(ini, "Tessaly", "DisplayVersion", "NotInINI"), "NotInINI");
  ASSERT_TRUE(WriteFileBytes(ini, "[Tessaly]\r\nVersion=1.0\r\n"));
  EXPECT_EQ(ReadIniText(ini, "Tessaly", "DisplayVersion", "NotInINI"), "NotInINI");

  ASSERT_TRUE(WriteFileBytes(
      ini, "[Other]\r\nDisplayVersion=1.0\r\n[Tessaly]\r\nDisplayVersion=22.7.3.1234\r\n"));
  EXPECT_EQ(ReadIniText(ini, "Tessaly", "DisplayVersion", "NotInINI"), "22.7.3.1234");

  // A value longer than the buffer is cut to what fits, as the platform does.
  ASSERT_TRUE(
      WriteFileBytes(ini, "[Tessaly]\r\nDisplayVersion=" + std::string(1500, '9') + "\r\n"));
  EXPECT_EQ(ReadIniText(ini, "Tessaly", "DisplayVersion", "NotInINI"), std::string(1023, '9'));
}

// A key saved and written back holds exactly what it held: every value's
// name, type and bytes. A saved text cut anywhere is refused, not half read.
TEST(RegistryValues, AKeySavedAndWrittenBackHoldsExactlyWhatItHeld) {
  ScopedRegistryTree test(HKEY_CURRENT_USER, "SOFTWARE", "RemedionTest", 0);
  const std::wstring key = L"SOFTWARE\\RemedionTest";
  ASSERT_TRUE(SetRegistryText(HKEY_CURRENT_USER, kTestKey, "", "the default value"));
  ASSERT_TRUE(SetRegistryValue(HKEY_CURRENT_USER, kTestKey, "Expand", REG_EXPAND_SZ,
                               std::string("%APPDATA%\\x\0", 13)));
  ASSERT_TRUE(SetRegistryValue(HKEY_CURRENT_USER, kTestKey, "Number", REG_DWORD,
                               std::string("\x01\x00\x00\x00", 4)));
  ASSERT_TRUE(SetRegistryValue(HKEY_CURRENT_USER, kTestKey, "Binary", REG_BINARY,
                               std::string("a\0b", 3)));
  std::vector<RegistryValue> saved;
  ASSERT_TRUE(ReadKeyValues(HKEY_CURRENT_USER, key, saved, "test"));
  ASSERT_EQ(saved.size(), 4u);

  const std::string encoded = EncodeKey(L"Kelvo Setup Client (Tessaly)", saved);
  std::wstring name;
  std::vector<RegistryValue> decoded;
  ASSERT_TRUE(DecodeKey(encoded, name, decoded));
  EXPECT_EQ(name, L"Kelvo Setup Client (Tessaly)");
  for (size_t cut = 0; cut < encoded.size(); ++cut) {
    EXPECT_FALSE(DecodeKey(encoded.substr(0, cut), name, decoded)) << cut;
  }
  ASSERT_TRUE(DecodeKey(encoded, name, decoded));

  ASSERT_TRUE(SetRegistryText(HKEY_CURRENT_USER, kTestKey, "Added later", "goes"));
  ASSERT_TRUE(ReplaceKey(HKEY_CURRENT_USER, key, decoded, "test"));
  std::vector<RegistryValue> back;
  ASSERT_TRUE(ReadKeyValues(HKEY_CURRENT_USER, key, back, "test"));
  ASSERT_EQ(back.size(), saved.size());
  for (const RegistryValue& value : saved) {
    const auto found = std::find_if(back.begin(), back.end(), [&](const RegistryValue& other) {
      return other.name == value.name;
    });
    ASSERT_NE(found, back.end());
    EXPECT_EQ(found->type, value.type);
    EXPECT_EQ(found->data, value.data);
  }
}
