// Staging an installer: the folder it goes to, its fresh name, and the
// owner that writes it once, holds it and deletes it. No process-wide state
// is involved, so all of it runs in the test process.
#include <windows.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <regex>
#include <string>

#include "logging/ansi_text.h"
#include "system/staged_file.h"
#include "system/staging_folder.h"
#include "system/temp_installer_path.h"
#include "tests/support/handle_count.h"
#include "tests/support/test_support.h"

using namespace test_support;

namespace {

Win32Result WriteText(HANDLE file, const std::string& text) {
  DWORD written = 0;
  return WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr) &&
                 written == text.size()
             ? Win32Result::Ok()
             : Win32Result::LastError();
}

// Whether another opener gets `access` to the file, sharing everything.
bool CanOpen(const std::string& path, DWORD access) {
  HANDLE file =
      CreateFileA(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                  nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  CloseHandle(file);
  return true;
}

// This process's value of an environment variable.
std::string Variable(const char* name) {
  char value[MAX_PATH] = {};
  const DWORD length = GetEnvironmentVariableA(name, value, MAX_PATH);
  return length < MAX_PATH ? std::string(value, length) : "(too long)";
}

}  // namespace

TEST(TempInstallerName, NamesAFreeFileWithThreePrefixCharactersAndTheExtension) {
  ScopedTempDir temp;
  const std::string folder = temp.path() + "\\";
  std::string first, second, dotted;
  EXPECT_TRUE(UniqueInstallerName(folder, "KSC", "exe", first));
  EXPECT_TRUE(UniqueInstallerName(folder, "KSCZ_LONGER", "exe", second));
  EXPECT_TRUE(UniqueInstallerName(folder, "KSL", ".msi", dotted));
  EXPECT_NE(first, second);
  for (const auto& [name, pattern] :
       {std::pair{first, R"(KSC[0-9A-Fa-f]+\.exe)"}, std::pair{second, R"(KSC[0-9A-Fa-f]+\.exe)"},
        std::pair{dotted, R"(KSL[0-9A-Fa-f]+\.msi)"}}) {
    EXPECT_EQ(name.rfind(folder, 0), 0u) << name;
    EXPECT_TRUE(std::regex_match(name.substr(folder.size()), std::regex(pattern))) << name;
  }
  // Neither the names nor the system's placeholder files stay behind.
  EXPECT_TRUE(IsFolderEmpty(temp.path()));

  std::string none = "unset";
  EXPECT_FALSE(UniqueInstallerName(folder + "gone\\", "KSC", "exe", none));
  EXPECT_EQ(none, "");
}

TEST(TempInstallerName, AFolderIsRefusedBeforeAnyFileCallCouldMisreadIt) {
  ScopedTempDir temp;
  std::string narrow;
  const std::wstring usable = AnsiToWide(temp.path() + "\\");
  EXPECT_EQ(InstallerFolderProblem(usable, narrow), "");
  EXPECT_EQ(narrow, temp.path() + "\\");

  // Taken literally, a variable stored unexpanded names a folder relative
  // to the current directory.
  EXPECT_EQ(InstallerFolderProblem(L"C:\\cwd\\%USERPROFILE%\\Temp\\", narrow),
            "holds an unexpanded variable");
  EXPECT_EQ(narrow, "");
  // 247 characters leave no room for a temporary name within MAX_PATH.
  const std::wstring tooLong = usable + std::wstring(247 - usable.size() - 1, L'a') + L"\\";
  ASSERT_EQ(tooLong.size(), 247u);
  EXPECT_EQ(InstallerFolderProblem(tooLong, narrow),
            "is too long for a temporary name (247 characters; at most 246)");
  EXPECT_EQ(InstallerFolderProblem(usable + L"gone\\", narrow), "cannot be used (error 2)");
  ASSERT_TRUE(WriteFileBytes(temp.path() + "\\file", "x"));
  EXPECT_EQ(InstallerFolderProblem(usable + L"file\\", narrow).substr(0, 6), "cannot");
  EXPECT_EQ(InstallerFolderProblem(usable + L"file", narrow), "is not a folder");
}

// Written once under a fresh name, then held: readers (an installer, the
// signature check) get in, nobody may change or delete it; the owner deletes
// it, or keeps it when told to. No handle outlives it.
TEST(StagedFile, IsWrittenOnceHeldAgainstChangeAndDeletedByItsOwner) {
  ScopedTempDir temp;
  const std::string folder = temp.path() + "\\";
  const DWORD handlesBefore = OwnHandleCount();
  std::string path;
  {
    std::optional<StagedFile> staged;
    EXPECT_TRUE(StagedFile::Create(
        folder, "KSC", "exe",
        [](HANDLE file, const std::string&) { return WriteText(file, "MZ payload"); }, staged));
    ASSERT_TRUE(staged.has_value());
    path = staged->path();
    EXPECT_EQ(ReadFileBytes(path).value_or(""), "MZ payload");
    EXPECT_TRUE(CanOpen(path, GENERIC_READ));
    EXPECT_FALSE(CanOpen(path, GENERIC_WRITE));
    EXPECT_FALSE(DeleteFileA(path.c_str()));
    EXPECT_FALSE(MoveFileExA(path.c_str(), (folder + "moved.exe").c_str(), 0));
    // Moving the owner keeps one hold and one deletion.
    std::optional<StagedFile> moved(std::move(*staged));
    staged.reset();
    EXPECT_TRUE(std::filesystem::exists(FsPath(path)));
    EXPECT_FALSE(CanOpen(path, GENERIC_WRITE));
  }
  EXPECT_FALSE(std::filesystem::exists(FsPath(path)));
  EXPECT_TRUE(IsFolderEmpty(temp.path()));
  EXPECT_EQ(OwnHandleCount(), handlesBefore);

  {
    std::optional<StagedFile> kept;
    EXPECT_TRUE(StagedFile::Create(
        folder, "KSL", "msi",
        [](HANDLE file, const std::string&) { return WriteText(file, "kept"); }, kept));
    ASSERT_TRUE(kept.has_value());
    path = kept->path();
    kept->Keep();
  }
  EXPECT_EQ(ReadFileBytes(path).value_or(""), "kept");
  EXPECT_TRUE(CanOpen(path, GENERIC_WRITE)) << "the hold went with the owner";
  ASSERT_TRUE(DeleteFileA(path.c_str()));
  EXPECT_EQ(OwnHandleCount(), handlesBefore);
}

// A write that fails half-way (a full disk) leaves nothing: no partial
// installer, no placeholder, no handle; the write's error is handed on.
TEST(StagedFile, AFailedWriteLeavesNothingBehind) {
  ScopedTempDir temp;
  const DWORD handlesBefore = OwnHandleCount();
  std::optional<StagedFile> staged;
  const Win32Result half = StagedFile::Create(
      temp.path() + "\\", "KSC", "exe",
      [](HANDLE file, const std::string&) {
        EXPECT_TRUE(WriteText(file, "MZ half"));
        return Win32Result::Failed(ERROR_DISK_FULL);
      },
      staged);
  EXPECT_FALSE(staged.has_value());
  EXPECT_EQ(half.error(), static_cast<DWORD>(ERROR_DISK_FULL));
  EXPECT_TRUE(IsFolderEmpty(temp.path()));
  EXPECT_EQ(OwnHandleCount(), handlesBefore);

  EXPECT_FALSE(StagedFile::Create(
      temp.path() + "\\gone\\", "KSC", "exe",
      [](HANDLE, const std::string&) { return Win32Result::Ok(); }, staged));
  EXPECT_FALSE(staged.has_value());
}

// The user's temporary folder when it can take installers; otherwise a
// private folder under the local application-data folder, made for the run
// and gone again with it.
TEST(StagingFolder, FallsBackToAPrivateFolderThatGoesWithTheRun) {
  ScopedTempDir temp;
  ScopedTempDir local;
  ScopedEnvVar localAppData("LOCALAPPDATA", local.path().c_str());
  const std::string privateFolder = local.path() + "\\Maker\\Staging\\";
  {
    ScopedEnvVar tmp("TMP", temp.path().c_str());
    StagingFolder usable("Maker\\Staging");
    EXPECT_EQ(usable.Path(), temp.path() + "\\");
    EXPECT_TRUE(usable.ProgramsTempFolder().empty()) << "the programs keep their own";
    // Not writable: the private folder takes over; a full disk is no reason.
    EXPECT_FALSE(usable.FallBackAfter(ERROR_DISK_FULL));
    EXPECT_EQ(usable.Path(), temp.path() + "\\");
    EXPECT_TRUE(usable.FallBackAfter(ERROR_ACCESS_DENIED));
    EXPECT_EQ(usable.Path(), privateFolder);
    EXPECT_FALSE(usable.FallBackAfter(ERROR_ACCESS_DENIED));
  }
  EXPECT_TRUE(IsFolderEmpty(local.path())) << "the private folders went with the run";

  const std::string missing = temp.path() + "\\gone";
  const std::string unexpanded = temp.path() + "\\%USERPROFILE%\\Temp";
  for (const std::string& broken : {missing, unexpanded}) {
    SCOPED_TRACE(broken);
    ScopedEnvVar tmp("TMP", broken.c_str());
    {
      StagingFolder folder("Maker\\Staging");
      EXPECT_EQ(folder.Path(), privateFolder);
      EXPECT_TRUE(std::filesystem::is_directory(FsPath(privateFolder)));
      // The programs the run starts get a temporary folder inside it,
      // which goes with what they left there; this process's own stays.
      EXPECT_EQ(WideToAnsi(folder.ProgramsTempFolder()), privateFolder + "Temp\\");
      EXPECT_EQ(Variable("TMP"), broken);
      ASSERT_TRUE(WriteFileBytes(privateFolder + "Temp\\setup.log", "x"));
      // What is left in it (not the run's own) keeps the folder.
      ASSERT_TRUE(WriteFileBytes(privateFolder + "other", "x"));
    }
    EXPECT_FALSE(std::filesystem::exists(FsPath(privateFolder + "Temp")));
    EXPECT_TRUE(std::filesystem::exists(FsPath(privateFolder + "other")));
    std::filesystem::remove_all(FsPath(local.path() + "\\Maker"));
  }

  // The log says which folder is used and why.
  ScopedEnvVar tmp("TMP", missing.c_str());
  const LoggedRun run = RunProbe("system_probe.exe", "staging-folder Maker\\Staging");
  ASSERT_TRUE(run.child.finished);
  EXPECT_EQ(run.child.exitCode, 0u);
  EXPECT_EQ(CountOf(run.messages, "(StagingFolder)  The temporary folder " + missing +
                                      "\\ cannot be used (error 2); installers are staged in " +
                                      privateFolder + " instead"),
            1u)
      << run.log;
  EXPECT_TRUE(IsFolderEmpty(local.path()));
}
