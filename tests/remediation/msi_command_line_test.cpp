#include <gtest/gtest.h>

#include <string>

#include "remediation/msi_command_line.h"
#include "system/known_folders.h"
#include "tests/support/test_support.h"

using test_support::ScopedEnvVar;

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
