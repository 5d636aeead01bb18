// The deployment package as an admin uses it: msiexec installs it for the
// user, the package starts the installed helper once its own session is over,
// and the helper repairs the profile; removal and a newer release behave as
// Windows Installer makes them. Judged by what an admin sees: msiexec's exit
// codes, the installed files and products, the helper's log, the components.
//
// The package starts the helper without waiting for it, so each scenario
// waits (bounded) for the helper's log to appear and its process to end.
#include <gtest/gtest.h>

#include <windows.h>
#include <msi.h>
#include <msiquery.h>

#include <chrono>
#include <filesystem>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "logging/owners.h"
#include "system/ascii_text.h"
#include "tests/support/component_profile.h"
#include "tests/support/stand_in_programs.h"
#include "tests/support/test_support.h"

using namespace test_support;

namespace {

constexpr char kHelperUpgradeCode[] = "{F2CB1283-CF1A-46EE-98C9-EEFF071818D0}";
constexpr char kHelperExeName[] = "OrvaneUpgradeHelper.exe";
constexpr char kLogNamePrefix[] = "Tessaly_KB61207_";
// A whole repair under Wine takes well under a minute; a helper that has not
// ended after three has hung.
constexpr auto kHelperEndTimeout = std::chrono::minutes(3);
// How long a helper that was wrongly started would take at most to show up.
constexpr auto kNothingStartsWait = std::chrono::seconds(8);
constexpr auto kPollInterval = std::chrono::milliseconds(500);

std::string PackagePath() { return RequiredEnv("REMEDION_DEPLOY_PACKAGE"); }
std::string NewerPackagePath() { return RequiredEnv("REMEDION_DEPLOY_NEWER_PACKAGE"); }

std::string OrvaneFolder() { return ExpandedText("%LOCALAPPDATA%\\Orvane"); }
std::string InstalledHelperPath() { return OrvaneFolder() + "\\Upgrade Helper\\" + kHelperExeName; }
std::string LogFolder() { return ExpandedText("%Public%\\Tessaly\\Logging"); }

// An MSIHANDLE closed when it goes out of scope.
class MsiHandle {
 public:
  MsiHandle() = default;
  ~MsiHandle() {
    if (handle_ != 0) MsiCloseHandle(handle_);
  }
  MsiHandle(const MsiHandle&) = delete;
  MsiHandle& operator=(const MsiHandle&) = delete;
  MSIHANDLE get() const { return handle_; }
  MSIHANDLE* out() { return &handle_; }

 private:
  MSIHANDLE handle_ = 0;
};

// The ProductCode a package file carries, read from its Property table.
std::string PackageProductCode(const std::string& packagePath) {
  MsiHandle database;
  MsiHandle view;
  MsiHandle record;
  if (MsiOpenDatabaseA(packagePath.c_str(), MSIDBOPEN_READONLY, database.out()) != ERROR_SUCCESS ||
      MsiDatabaseOpenViewA(database.get(),
                           "SELECT `Value` FROM `Property` WHERE `Property` = 'ProductCode'",
                           view.out()) != ERROR_SUCCESS ||
      MsiViewExecute(view.get(), 0) != ERROR_SUCCESS ||
      MsiViewFetch(view.get(), record.out()) != ERROR_SUCCESS) {
    return {};
  }
  char code[40] = {};
  DWORD size = sizeof(code);
  if (MsiRecordGetStringA(record.get(), 1, code, &size) != ERROR_SUCCESS) return {};
  return code;
}

std::vector<std::string> InstalledHelperProducts() { return RelatedProducts(kHelperUpgradeCode); }

// Running copies of the installed helper; the tests of the build tree's
// helper start copies of the same name elsewhere.
std::vector<DWORD> RunningInstalledHelpers() {
  std::vector<DWORD> ids;
  const std::string installed = InstalledHelperPath();
  for (DWORD pid : RunningProcessesNamed(kHelperExeName)) {
    const UniqueHandle process(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid));
    char image[MAX_PATH] = {};
    DWORD size = sizeof(image);
    if (process && QueryFullProcessImageNameA(process.get(), 0, image, &size) &&
        EqualsIgnoringAsciiCase(image, installed.c_str())) {
      ids.push_back(pid);
    }
  }
  return ids;
}

// The helper's log files by name, with their sizes.
using LogSizes = std::map<std::string, uintmax_t>;

LogSizes HelperLogs() {
  LogSizes logs;
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator(FsPath(LogFolder()), error)) {
    const std::string name = AnsiName(entry.path());
    if (name.rfind(kLogNamePrefix, 0) == 0) logs[name] = entry.file_size(error);
  }
  return logs;
}

// What helper runs wrote since `before`: the text each new or grown log file
// gained (a file of a reused process id is appended to).
std::vector<std::string> LogTextsSince(const LogSizes& before) {
  std::vector<std::string> texts;
  for (const auto& [name, size] : HelperLogs()) {
    const auto earlier = before.find(name);
    const uintmax_t start = earlier == before.end() ? 0 : earlier->second;
    if (earlier != before.end() && size == earlier->second) continue;
    const std::string text = ReadFileBytes(LogFolder() + "\\" + name).value_or("");
    texts.push_back(start < text.size() ? text.substr(start) : std::string());
  }
  return texts;
}

struct HelperRuns {
  bool ended = false;              // a log appeared and no installed helper runs
  std::vector<std::string> texts;  // one per log written
};

// After an install: waits until the helper the package started has written
// its log and ended, for at most kHelperEndTimeout.
HelperRuns WaitForStartedHelper(const LogSizes& before) {
  HelperRuns runs;
  const auto deadline = std::chrono::steady_clock::now() + kHelperEndTimeout;
  while (std::chrono::steady_clock::now() < deadline) {
    if (!LogTextsSince(before).empty() && RunningInstalledHelpers().empty()) {
      runs.ended = true;
      break;
    }
    std::this_thread::sleep_for(kPollInterval);
  }
  runs.texts = LogTextsSince(before);
  return runs;
}

// Whether, after a while, no helper runs and no helper log was written.
bool NothingStartedSince(const LogSizes& before) {
  std::this_thread::sleep_for(kNothingStartsWait);
  return RunningInstalledHelpers().empty() && LogTextsSince(before).empty();
}

DWORD InstallQuietly(const std::string& packagePath) {
  return RunMsiexec("/i \"" + packagePath + "\" /qn");
}

bool LogHolds(const std::string& log, const std::string& text) {
  return log.find(text) != std::string::npos;
}

// Ends any helper the package started, removes every release of the package
// and the components the helper installed.
void RestorePrefix() {
  for (DWORD pid : RunningInstalledHelpers()) KillProcess(pid);
  for (const std::string& code : InstalledHelperProducts()) RunMsiexec("/x " + code + " /qn");
  ResetProfile();
}

class DeploymentPackage : public ::testing::Test {
 protected:
  void SetUp() override {
    RestorePrefix();
    ASSERT_TRUE(InstalledHelperProducts().empty());
    ASSERT_FALSE(std::filesystem::exists(FsPath(InstalledHelperPath())));
    logsAtStart_ = HelperLogs();
  }
  void TearDown() override {
    RestorePrefix();
    // The logs of the helpers the packages started.
    for (const auto& log : HelperLogs()) {
      if (logsAtStart_.count(log.first) == 0) DeleteFileA((LogFolder() + "\\" + log.first).c_str());
    }
  }

 private:
  LogSizes logsAtStart_;
};

TEST_F(DeploymentPackage, SilentInstallOnABrokenProfileStartsTheHelperThatRepairsIt) {
  InstallOutdatedComponents();
  ASSERT_EQ(FileVersionOf(SetupClientExePath("Tessaly")), "22.7.1.0");
  ASSERT_EQ(FileVersionOf(SetupClientExePath("Quarnel Networks")), "22.7.1.0");
  ASSERT_EQ(FileVersionOf(LauncherExePath()), "22.7.1.0");
  const std::string productCode = PackageProductCode(PackagePath());
  ASSERT_FALSE(productCode.empty());

  const LogSizes before = HelperLogs();
  ASSERT_EQ(InstallQuietly(PackagePath()), 0u);
  EXPECT_TRUE(std::filesystem::exists(FsPath(InstalledHelperPath())));
  EXPECT_EQ(InstalledHelperProducts(), std::vector<std::string>{productCode});
  // msiexec has ended; the installed helper goes on (a repair of this
  // profile takes seconds), which is also what the waits below watch.
  EXPECT_FALSE(RunningInstalledHelpers().empty());

  const HelperRuns runs = WaitForStartedHelper(before);
  ASSERT_TRUE(runs.ended) << "the helper did not write its log and end within 3 minutes";
  ASSERT_EQ(runs.texts.size(), 1u);
  const std::string& log = runs.texts[0];
  EXPECT_TRUE(LogHolds(log, "Running from:  " + InstalledHelperPath() + "\r\n"));
  EXPECT_TRUE(LogHolds(log, "\r\n-msiInteractive: False\r\n"));
  EXPECT_TRUE(LogHolds(log, "\r\n-kuhMSIProdCode: " + productCode + "\r\n"));
  EXPECT_GE(IndexOf(TaggedMessages(log), FinalResultLine("Success")), 0);

  // Without the machine-wide client the setup client comes from 22.7.3.
  EXPECT_EQ(FileVersionOf(SetupClientExePath("Tessaly")), "22.7.3.0");
  EXPECT_FALSE(std::filesystem::exists(FsPath(SetupClientExePath("Quarnel Networks"))));
  EXPECT_EQ(FileVersionOf(LauncherExePath()), "22.7.2.0");
  const auto launchers = InstalledLauncherProducts();
  ASSERT_EQ(launchers.size(), 1u);
  EXPECT_EQ(ProductVersion(launchers[0]), "22.7.2");
  EXPECT_TRUE(IsCompletionMarked());

  // What a management tool reads: the result beside the marker, when, the
  // log that tells more, and what was done.
  EXPECT_EQ(RunRecordValue("LastRunResult"), "Success");
  const long long age = SecondsSinceUtc(RunRecordValue("LastRunTime").value_or("")).value_or(-1);
  EXPECT_GE(age, 0);
  EXPECT_LE(age, 60);
  const std::string recordedLog = RunRecordValue("LastRunLog").value_or("");
  // The run's log, which may follow an earlier process's with the same id.
  EXPECT_NE(ReadFileBytes(recordedLog).value_or("").find(log), std::string::npos) << recordedLog;
  EXPECT_NE(RunRecordValue("LastRunSummary").value_or("").find("installed 2 (Setup Client, KVAL)"),
            std::string::npos)
      << RunRecordValue("LastRunSummary").value_or("(none)");
}

// "-msiInteractive:" follows the user interface the package runs with: True
// only under the full one, False under the basic one as under none.
TEST_F(DeploymentPackage, OnlyTheFullUserInterfaceMakesTheHelperInteractive) {
  const std::string productCode = PackageProductCode(PackagePath());
  ASSERT_FALSE(productCode.empty());
  const struct {
    const char* uiSwitch;
    const char* dumpLine;
  } rows[] = {{" /qb", "\r\n-msiInteractive: False\r\n"}, {"", "\r\n-msiInteractive: True\r\n"}};
  for (const auto& row : rows) {
    SCOPED_TRACE(std::string("msiexec /i") + row.uiSwitch);
    const LogSizes before = HelperLogs();
    ASSERT_EQ(RunMsiexec("/i \"" + PackagePath() + "\"" + row.uiSwitch), 0u);
    const HelperRuns runs = WaitForStartedHelper(before);
    ASSERT_TRUE(runs.ended) << "the helper did not write its log and end within 3 minutes";
    ASSERT_EQ(runs.texts.size(), 1u);
    EXPECT_TRUE(LogHolds(runs.texts[0], row.dumpLine));
    EXPECT_TRUE(LogHolds(runs.texts[0], "\r\n-kuhMSIProdCode: " + productCode + "\r\n"));
    ASSERT_EQ(RunMsiexec("/x " + productCode + " /qn"), 0u);
  }
}

// A machine-wide deployment would put the helper in no user's profile and
// repair nothing: the package refuses it, silently with 1603, and starts
// nothing. (The refusal of the LocalSystem account cannot be shown here:
// Wine's msiexec always runs as the logged-on user. check-package.sh reads
// its launch condition.)
TEST_F(DeploymentPackage, AMachineWideInstallIsRefusedAndStartsNothing) {
  const LogSizes before = HelperLogs();
  EXPECT_EQ(RunMsiexec("/i \"" + PackagePath() + "\" ALLUSERS=1 /qn"), 1603u);
  EXPECT_TRUE(InstalledHelperProducts().empty());
  EXPECT_FALSE(std::filesystem::exists(FsPath(InstalledHelperPath())));
  EXPECT_TRUE(NothingStartedSince(before));
}

// The second install comes while the first one's helper still works: a
// repeated install of the same package starts nothing, so two helpers never
// work at once. A repair starts the helper again, once. Removal starts
// nothing and takes the helper's files away.
TEST_F(DeploymentPackage, RepeatedInstallStartsNoSecondHelperRepairRerunsItRemovalLeavesNothing) {
  const std::string productCode = PackageProductCode(PackagePath());
  ASSERT_FALSE(productCode.empty());

  LogSizes before = HelperLogs();
  ASSERT_EQ(InstallQuietly(PackagePath()), 0u);
  EXPECT_EQ(InstallQuietly(PackagePath()), 0u);
  HelperRuns runs = WaitForStartedHelper(before);
  ASSERT_TRUE(runs.ended) << "the helper did not write its log and end within 3 minutes";
  EXPECT_EQ(runs.texts.size(), 1u);
  EXPECT_EQ(InstalledHelperProducts(), std::vector<std::string>{productCode});

  // msiexec /fa sets REINSTALL as this does; Wine's msiexec does not
  // implement /fa.
  before = HelperLogs();
  ASSERT_EQ(RunMsiexec("/i \"" + PackagePath() + "\" REINSTALL=ALL /qn"), 0u);
  runs = WaitForStartedHelper(before);
  ASSERT_TRUE(runs.ended) << "the repair's helper did not write its log and end within 3 minutes";
  ASSERT_EQ(runs.texts.size(), 1u);
  EXPECT_TRUE(LogHolds(runs.texts[0], "\r\n-kuhMSIProdCode: " + productCode + "\r\n"));

  const LogSizes beforeRemoval = HelperLogs();
  ASSERT_EQ(RunMsiexec("/x " + productCode + " /qn"), 0u);
  EXPECT_TRUE(NothingStartedSince(beforeRemoval));
  EXPECT_TRUE(InstalledHelperProducts().empty());
  EXPECT_FALSE(std::filesystem::exists(FsPath(InstalledHelperPath())));
  EXPECT_FALSE(std::filesystem::exists(FsPath(OrvaneFolder())));
  HKEY key = nullptr;
  EXPECT_NE(RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\Orvane\\Upgrade Helper", 0, KEY_READ, &key),
            ERROR_SUCCESS);
  if (key != nullptr) RegCloseKey(key);
}

// A later release replaces the installed one (major upgrade); the older
// one's removal starts no helper, the newer one starts its own. The older
// package cannot then be installed over the newer.
TEST_F(DeploymentPackage, NewerPackageReplacesTheOlderOne) {
  const std::string olderCode = PackageProductCode(PackagePath());
  const std::string newerCode = PackageProductCode(NewerPackagePath());
  ASSERT_FALSE(olderCode.empty());
  ASSERT_FALSE(newerCode.empty());
  ASSERT_NE(olderCode, newerCode);

  LogSizes before = HelperLogs();
  ASSERT_EQ(InstallQuietly(PackagePath()), 0u);
  ASSERT_TRUE(WaitForStartedHelper(before).ended);
  ASSERT_EQ(InstalledHelperProducts(), std::vector<std::string>{olderCode});

  before = HelperLogs();
  ASSERT_EQ(InstallQuietly(NewerPackagePath()), 0u);
  const HelperRuns runs = WaitForStartedHelper(before);
  ASSERT_TRUE(runs.ended) << "the helper did not write its log and end within 3 minutes";
  ASSERT_EQ(runs.texts.size(), 1u);
  EXPECT_TRUE(LogHolds(runs.texts[0], "\r\n-kuhMSIProdCode: " + newerCode + "\r\n"));
  EXPECT_EQ(InstalledHelperProducts(), std::vector<std::string>{newerCode});
  EXPECT_EQ(MsiQueryProductStateA(olderCode.c_str()), INSTALLSTATE_UNKNOWN);
  EXPECT_TRUE(std::filesystem::exists(FsPath(InstalledHelperPath())));

  before = HelperLogs();
  EXPECT_EQ(InstallQuietly(PackagePath()), static_cast<DWORD>(ERROR_INSTALL_FAILURE));
  EXPECT_TRUE(NothingStartedSince(before));
  EXPECT_EQ(InstalledHelperProducts(), std::vector<std::string>{newerCode});
}

}  // namespace
