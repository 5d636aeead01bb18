// The helper's own records: the completion marker and the desktop client's
// version file, and the launcher package's temporary name.
#include <windows.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <regex>
#include <string>
#include <vector>

#include "remediation/installer_staging.h"
#include "remediation/product_store.h"
#include "system/known_folders.h"
#include "tests/support/component_profile.h"
#include "tests/support/scoped_registry_tree.h"
#include "tests/support/test_support.h"

using namespace test_support;
using registry_test::ScopedRegistryTree;

namespace {

constexpr char kProbe[] = "remediation_probe.exe";
constexpr char kMarker[] = "PerUserCompsFixed";

}  // namespace

TEST(CompletionMarker, IsWrittenToAMissingKeyAndLogged) {
  ScopedRegistryTree tessaly(HKEY_CURRENT_USER, "SOFTWARE", "TESSALY", 0);

  const auto read = RunProbe(kProbe, "marker-read");
  ASSERT_TRUE(read.child.finished);
  EXPECT_EQ(read.child.exitCode, 11u) << "no key: not marked";
  EXPECT_EQ(read.messages, (std::vector<std::string>{
                               "(IsPerUserCompStatusMarkedInRegistry)  >>>",
                               "(GetStringFromReg)  Status of PerUserCompsFixed in reg is False",
                           }));

  const auto write = RunProbe(kProbe, "marker-write");
  ASSERT_TRUE(write.child.finished);
  ASSERT_EQ(write.messages.size(), 4u);
  EXPECT_EQ(write.messages[0], "(MarkPerUserCompStatusInRegistry)  >>>");
  EXPECT_EQ(write.messages[1],
            "(WriteValToReg)  >>>  Writing PerUserCompsFixed with value True to reg");
  EXPECT_TRUE(std::regex_match(
      write.messages[2],
      std::regex(
          R"(\(WriteValToReg\)  <<<  Reg Write PerUserCompsFixed with value True to reg:  True; LastError:  \d+)")))
      << write.messages[2];
  EXPECT_EQ(
      write.messages[3],
      "(MarkPerUserCompStatusInRegistry)  Marking PerUser component completion status in reg");

  const auto stored = ReadRegistryValue(HKEY_CURRENT_USER, kRemedionKey, kMarker);
  ASSERT_TRUE(stored.has_value());
  EXPECT_EQ(stored->type, static_cast<DWORD>(REG_SZ));
  EXPECT_EQ(stored->data, std::string("True\0", 5));
  EXPECT_TRUE(IsPerUserCompStatusMarkedInRegistry());
}

TEST(CompletionMarker, CountsOnlyTheWordTrueInAnyLetterCase) {
  ScopedRegistryTree tessaly(HKEY_CURRENT_USER, "SOFTWARE", "TESSALY", 0);
  EXPECT_FALSE(IsPerUserCompStatusMarkedInRegistry());

  const std::pair<std::string, bool> cases[] = {
      {"True", true},   {"TRUE", true},   {"true", true}, {"tRuE", true},
      {"True ", false}, {" True", false}, {"1", false},   {"", false},
      {"False", false}, {"Truee", false}, {"Tru", false}, {std::string(600, 'T'), false},
  };
  for (const auto& [text, marked] : cases) {
    ASSERT_TRUE(SetRegistryText(HKEY_CURRENT_USER, kRemedionKey, kMarker, text));
    EXPECT_EQ(IsPerUserCompStatusMarkedInRegistry(), marked) << "[" << text << "]";
  }
  // Stored under another type, the text still counts.
  ASSERT_TRUE(SetRegistryValue(HKEY_CURRENT_USER, kRemedionKey, kMarker, REG_BINARY, "true"));
  EXPECT_TRUE(IsPerUserCompStatusMarkedInRegistry());
}

TEST(VersionIniPath, IsExpandedUnderThe32BitProgramFiles) {
  ScopedEnvVar base("REMEDION_TEST_BASE", "F:\\Apps");
  {
    ScopedEnvVar x86("ProgramFiles(x86)", "%REMEDION_TEST_BASE%\\x86");
    EXPECT_EQ(GetVersionIniPath(), "F:\\Apps\\x86\\Tessaly\\Kelvo\\TessalyVersion.ini");
  }
  {
    // Expanded beyond the 260-byte buffer: no path rather than a cut one.
    const std::string longBase = "F:\\" + std::string(240, 'a');
    ScopedEnvVar longer("REMEDION_TEST_BASE", longBase.c_str());
    ScopedEnvVar x86("ProgramFiles(x86)", "%REMEDION_TEST_BASE%");
    EXPECT_EQ(GetVersionIniPath(), "");
  }
  // Without the variable, the shell's 32-bit program-files folder.
  ScopedEnvVar x86("ProgramFiles(x86)", nullptr);
  EXPECT_EQ(GetVersionIniPath(), GetKnownFolderPath(KnownFolder::ProgramFilesX86) +
                                     "Tessaly\\Kelvo\\TessalyVersion.ini");
}

TEST(GetVersionFromINI, ReadsDisplayVersionOfTheDesktopClientsFile) {
  ScopedTempDir programFiles;
  ScopedEnvVar folder("ProgramFiles(x86)", programFiles.path().c_str());
  const std::string iniFolder = programFiles.path() + "\\Tessaly\\Kelvo";
  EXPECT_EQ(GetVersionFromINI(), "NotInINI");
  std::filesystem::create_directories(FsPath(iniFolder));
  ASSERT_TRUE(WriteFileBytes(iniFolder + "\\TessalyVersion.ini",
                             "[Tessaly]\r\nDisplayVersion=22.7.3.1234\r\n"));
  EXPECT_EQ(GetVersionFromINI(), "22.7.3.1234");
}
