#include <windows.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "system/known_folders.h"
#include "system/temp_installer_path.h"
#include "tests/support/test_support.h"
#include "tests/system/system_probe.h"

using namespace test_support;

TEST(KnownFolders, EnvironmentComesFirstAndGetsOneBackslashAppended) {
  {
    ScopedEnvVar pub("Public", "D:\\Pub");
    EXPECT_EQ(GetKnownFolderPath(KnownFolder::Public), "D:\\Pub\\");
  }
  {
    // Unset, the shell's public folder answers, again with one backslash.
    ScopedEnvVar pub("Public", nullptr);
    const std::string shellPublic = GetKnownFolderPath(KnownFolder::Public);
    ASSERT_GE(shellPublic.size(), 4u);
    EXPECT_EQ(shellPublic.substr(1, 2), ":\\");
    EXPECT_EQ(shellPublic.back(), '\\');
    EXPECT_NE(shellPublic[shellPublic.size() - 2], '\\');
    EXPECT_TRUE(std::filesystem::is_directory(FsPath(shellPublic)));
  }
  {
    // A value too long for the 260-byte buffer names no folder; the shell is
    // not asked.
    const std::string tooLong = "C:\\" + std::string(300, 'p');
    ScopedEnvVar pub("Public", tooLong.c_str());
    EXPECT_EQ(GetKnownFolderPath(KnownFolder::Public), "");
  }
  // Every identifier has a row: with the variables of this process all seven
  // resolve to folders.
  for (int id = 0; id <= 6; ++id) {
    const std::string folder = GetKnownFolderPath(static_cast<KnownFolder>(id));
    ASSERT_FALSE(folder.empty()) << id;
    EXPECT_EQ(folder.back(), '\\') << id;
  }
}

TEST(KnownFolders, MsiExecPathFallsBackToTheShellsWindowsFolder) {
  char windows[MAX_PATH] = {};
  ASSERT_NE(GetWindowsDirectoryA(windows, MAX_PATH), 0u);
  {
    ScopedEnvVar winDir("WinDir", nullptr);
    EXPECT_EQ(_stricmp(GetMsiExecPath().c_str(),
                       (std::string(windows) + "\\System32\\MsiExec.exe").c_str()),
              0)
        << GetMsiExecPath();
  }
  ScopedEnvVar winDir("WinDir", "E:\\Win");
  EXPECT_EQ(GetMsiExecPath(), "E:\\Win\\System32\\MsiExec.exe");
}

TEST(KnownFolders, The32BitProgramFilesFallBackToTheShellsFolder) {
  char fromEnvironment[MAX_PATH] = {};
  const DWORD length = GetEnvironmentVariableA("ProgramFiles(x86)", fromEnvironment, MAX_PATH);
  ASSERT_GT(length, 0u);
  ASSERT_LT(length, static_cast<DWORD>(MAX_PATH));

  ScopedEnvVar x86("ProgramFiles(x86)", nullptr);
  // The shell names the same folder the environment does, not the 64-bit one.
  const std::string folder = GetKnownFolderPath(KnownFolder::ProgramFilesX86);
  EXPECT_EQ(_stricmp(folder.c_str(), (std::string(fromEnvironment) + "\\").c_str()), 0) << folder;
  EXPECT_NE(_stricmp(folder.c_str(), GetKnownFolderPath(KnownFolder::ProgramW6432).c_str()), 0)
      << folder;
  EXPECT_TRUE(std::filesystem::is_directory(FsPath(folder)));
}

// A folder name the ANSI code page cannot hold (a Cyrillic user name under
// code page 1252, or a Polish letter that best-fit mapping would turn into a
// plain one) names no folder at all: never '?' or a look-alike of it.
TEST(KnownFolders, AFolderTheCodePageCannotHoldIsUnavailable) {
  ASSERT_EQ(GetACP(), 1252u) << "these names are chosen for code page 1252";
  const std::wstring cyrillic =
      L"C:\\users\\\u0414\u043c\u0438\u0442\u0440\u0438\u0439";  // Дмитрий
  const std::wstring polish = L"C:\\users\\\u0141ukasz";         // Łukasz

  {
    ScopedEnvVar appData(L"AppData", polish + L"\\AppData\\Roaming");
    const auto run = RunProbe(kSystemProbe, "known-folder 2");
    EXPECT_EQ(run.child.exitCode, 1u);
    EXPECT_EQ(CountOf(run.messages, "(probe)  folder=[]"), 1u);
    EXPECT_EQ(CountOf(run.messages,
                      "(GetKnownFolderPath)  Folder AppData (C:\\users\\?ukasz\\AppData\\Roaming) "
                      "cannot be written in the ANSI code page (1252); treating it as unavailable"),
              1u);
  }
  std::string narrow = "unset";
  EXPECT_EQ(InstallerFolderProblem(cyrillic + L"\\Temp\\", narrow),
            "cannot be written in the ANSI code page (1252)");
  EXPECT_EQ(narrow, "");
}
