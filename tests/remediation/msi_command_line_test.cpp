#include <gtest/gtest.h>

#include <string>

#include "logging/log_file.h"
#include "remediation/msi_command_line.h"
#include "system/known_folders.h"
#include "tests/support/test_support.h"

using namespace test_support;

TEST(MsiCommandLine, InstallAndRemovalInBothModesLogToOneFileUnderPublic) {
  ScopedEnvVar pub("Public", "C:\\Users\\Public");
  const std::string package = "C:\\Users\\u\\AppData\\Local\\Temp\\KSL1A2B.msi";
  const std::string product = "{BC0B1052-FEA3-4B1F-B3C0-9F60332010BA}";
  const std::string log = " /L*v+ \"C:\\Users\\Public\\Tessaly\\Logging\\KVAL.log\"";

  EXPECT_EQ(BuildMsiInstallCommandLine(false, package, "KVAL"),
            "/i \"" + package + "\" /quiet /qn /norestart KVAL_SMS_PUSH=1" + log);
  EXPECT_EQ(BuildMsiInstallCommandLine(true, package, "KVAL"),
            "/i \"" + package + "\" /norestart" + log);
  EXPECT_EQ(BuildMsiUninstallCommandLine(false, product, "KVAL"),
            "/x " + product + " /quiet /qn /norestart KVAL_SMS_PUSH=1" + log);
  EXPECT_EQ(BuildMsiUninstallCommandLine(true, product, "KVAL"),
            "/x " + product + " /norestart" + log);
}

TEST(MsiCommandLine, WithoutAPublicFolderTheLogGoesToTheDriveRoot) {
  // A value too long for the folder table's buffer names no folder, and the
  // shell is then not asked.
  const std::string tooLong = "C:\\" + std::string(300, 'p');
  ScopedEnvVar pub("Public", tooLong.c_str());
  ASSERT_EQ(GetKnownFolderPath(KnownFolder::Public), "");

  EXPECT_EQ(BuildMsiInstallCommandLine(true, "C:\\t\\a.msi", "KVAL"),
            "/i \"C:\\t\\a.msi\" /norestart /L*v+ \"\\Tessaly\\Logging\\KVAL.log\"");
  EXPECT_EQ(BuildMsiUninstallCommandLine(false, "{X}", "KVAL"),
            "/x {X} /quiet /qn /norestart KVAL_SMS_PUSH=1 /L*v+ \"\\Tessaly\\Logging\\KVAL.log\"");
}

TEST(MsiCommandLine, ALinkPlantedAtTheSharedLogSendsTheLogToTheUsersOwnFolder) {
  ScopedTempDir publicFolder, localFolder, elsewhere;
  ScopedEnvVar pub("Public", publicFolder.path().c_str());
  ScopedEnvVar local("LOCALAPPDATA", localFolder.path().c_str());
  const std::string shared = publicFolder.path() + "\\Tessaly\\Logging\\KVAL.log";
  const std::string own = localFolder.path() + "\\Tessaly\\Logging\\KVAL.log";
  const std::string victim = elsewhere.path() + "\\victim.txt";
  ASSERT_TRUE(WriteFileBytes(victim, "victim"));
  ASSERT_TRUE(CreateLogFolder(publicFolder.path() + "\\Tessaly\\Logging\\"));
  CreateHardLinkA(shared.c_str(), victim.c_str(), nullptr);
  ASSERT_EQ(LinkCount(victim), 2u) << "no hard link planted";

  // msiexec would append to the other user's file through the link.
  EXPECT_EQ(BuildMsiInstallCommandLine(false, "C:\\t\\a.msi", "KVAL"),
            "/i \"C:\\t\\a.msi\" /quiet /qn /norestart KVAL_SMS_PUSH=1 /L*v+ \"" + own + "\"");
  EXPECT_EQ(LinkCount(own), 1u) << "the user's own log is not made ready";

  // With a link at the user's own as well, msiexec runs without a log.
  ASSERT_TRUE(DeleteFileA(own.c_str()));
  CreateHardLinkA(own.c_str(), victim.c_str(), nullptr);
  ASSERT_EQ(LinkCount(victim), 3u) << "the second hard link was not planted";
  EXPECT_EQ(BuildMsiUninstallCommandLine(true, "{X}", "KVAL"), "/x {X} /norestart");
  EXPECT_EQ(ReadFileBytes(victim), "victim");
}
