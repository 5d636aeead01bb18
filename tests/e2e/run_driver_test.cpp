// The whole helper run as a child, judged by its exit code and its log.
#include <gtest/gtest.h>

#include <algorithm>
#include <regex>
#include <string>
#include <vector>

#include "tests/support/component_profile.h"
#include "tests/support/test_support.h"

using namespace test_support;

namespace {

// The runs here look at the run driver, not at the remediation: with both
// components current the passes find nothing to do and change nothing.
class CurrentComponentsEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    ResetProfile();
    InstallCurrentComponents();
  }
  void TearDown() override { ResetProfile(); }
};

const auto* const g_environment =
    ::testing::AddGlobalTestEnvironment(new CurrentComponentsEnvironment);

struct HelperLog {
  ChildResult run;
  std::string content;
  std::vector<std::string> lines;
};

HelperLog RunHelperAndReadLog(const std::string& arguments) {
  HelperLog log;
  log.run = RunHelper(arguments);
  log.content = ReadFileBytes(LogPathForPid(log.run.pid)).value_or("");
  log.lines = SplitCrLfLines(log.content);
  return log;
}

// The dump text as the log file holds it (CR LF line ends).
std::string ExpectedDump(const std::string& extraArgLines, const char* forceReRun,
                         const char* fixMachineWide, const std::string& result) {
  std::string text = "(ConfigDrivenState::DumpToLog)  ConfigDrivenState - Current state:\r\n";
  text += "Running from:  " + HelperExePath() + "\r\n";
  text += "ArgsParseResult: " + result + "\r\n";
  text += "64BitOS:  True\r\nIsUserAdmin: True\r\nIsUserLocalSystem: False\r\n";
  text += extraArgLines;
  text += "-msiInteractive: False\r\n";
  text += std::string("-forceReRun: ") + forceReRun + "\r\n";
  text += std::string("-fixMachineWide: ") + fixMachineWide + "\r\n";
  text += "-kuhMSIProdCode: \r\n";
  text += "ActiveXDetected: 0\r\nActiveXReplaced: 0\r\nIEProcessCount: 0\r\n";
  text += "ProcessesKilled: 0\r\n\r\nAppsUnInstalled: 0\r\n\r\nAppsInstalled: 0\r\n\r\n\r\n";
  return text;
}

void ExpectStartAndMetadata(const std::vector<std::string>& messages) {
  ASSERT_GE(messages.size(), 9u);
  EXPECT_TRUE(std::regex_match(
      messages[0], std::regex(R"(\(PL\.Ctor\)  ===Tessaly Remedion Launched at \d+ ticks===)")));
  EXPECT_EQ(messages[1], "(main)  >>>");
  EXPECT_EQ(messages[2], "(LogMeta)  >>>  LogMeta");
  EXPECT_TRUE(std::regex_match(
      messages[3], std::regex(R"(\(LogMeta\)  BUILDNO:      \d{2}\.\d{2}\.\d{4}\.\d{4})")));
  EXPECT_TRUE(std::regex_match(
      messages[4],
      std::regex(R"(\(LogMeta\)  BUILDTS:      \d{4}-\d{2}-\d{2}  \d{2}:\d{2}:\d{2} UTC)")));
  // The build number is made from the same reading of the clock.
  std::smatch ts;
  if (std::regex_match(
          messages[4], ts,
          std::regex(R"(.*  \d{2}(\d{2})-(\d{2})-(\d{2})  (\d{2}):(\d{2}):(\d{2}) UTC)"))) {
    EXPECT_EQ(messages[3], "(LogMeta)  BUILDNO:      " + ts[1].str() + "." + ts[2].str() + "." +
                               ts[3].str() + ts[4].str() + "." + ts[5].str() + ts[6].str());
  }
  EXPECT_TRUE(
      std::regex_match(messages[5], std::regex(R"(\(LogMeta\)  DEVIATION:    [A-Za-z0-9+/]+=*)")));
  // 40 hexadecimal digits are 56 Base64 characters.
  EXPECT_TRUE(std::regex_match(messages[6],
                               std::regex(R"(\(LogMeta\)  REVISION:     [A-Za-z0-9+/]{54}==)")));
  EXPECT_EQ(messages[7], "(LogMeta)  BUILDCONFIG:  Release");
  EXPECT_EQ(messages[8], "(LogMeta)  <<<  LogMeta");
}

}  // namespace

TEST(RunDriver, WithoutArgumentsRunsThePassesBetweenTwoDumps) {
  const HelperLog log = RunHelperAndReadLog("");
  ASSERT_TRUE(log.run.finished);
  EXPECT_EQ(log.run.exitCode, 0u);
  const auto messages = TaggedMessages(log.content);
  ExpectStartAndMetadata(messages);
  EXPECT_EQ(CountOf(messages, "(ConfigDrivenState::ParseCLArgs)  >>>  ; ArgCount = 1"), 1u);
  EXPECT_EQ(CountOf(messages,
                    "(ConfigDrivenState::ParseCLArgs)  <<<  ; No ParseCLArgs to parse; Returning "
                    "ERROR_SUCCESS"),
            1u);
  EXPECT_EQ(CountOf(messages, "(ConfigDrivenState::ParseCLArgs)  <<<  ; Returning 0"), 1u);
  EXPECT_EQ(CountOf(messages,
                    "(GetCurrentProcessIntegrityLevel)  <<<  ; Calculated Process Integrity Level "
                    "for Process [" +
                        std::to_string(log.run.pid) + "] is 3"),
            1u);
  EXPECT_EQ(CountOf(messages, "(HandlePerUserKelvoComponents)  >>>"), 2u);
  EXPECT_EQ(CountOf(messages, "(HandlePostRunActivities)  >>>"), 1u);

  // The first dump shows the command line; the final one the forced re-run.
  const size_t first = log.content.find(ExpectedDump("", "False", "True", "0"));
  const size_t last = log.content.find(ExpectedDump("", "True", "True", "0"));
  EXPECT_NE(first, std::string::npos) << log.content;
  EXPECT_NE(last, std::string::npos) << log.content;
  EXPECT_LT(first, last);

  // One final result, whichever the machine gives, before the final dump.
  const std::regex result(
      R"(\(HandlePostRunActivities\)  \*\*\* === --- Final result of remediation:  (Success|Failure) --- === \*\*\*)");
  EXPECT_EQ(std::count_if(messages.begin(), messages.end(),
                          [&result](const std::string& m) { return std::regex_match(m, result); }),
            1);
  EXPECT_LT(log.content.find("Final result of remediation"), last);

  // The exit banner is the last record, followed by two empty lines.
  ASSERT_GE(log.lines.size(), 3u);
  EXPECT_TRUE(std::regex_search(
      log.lines[log.lines.size() - 3],
      std::regex(R"(\(PL\.Dtor\)  ===Tessaly Remedion Exiting at \d+ ticks===$)")));
  EXPECT_EQ(log.lines[log.lines.size() - 2], "");
  EXPECT_EQ(log.lines.back(), "");
}

TEST(RunDriver, ElevateForSkipsThePassesAndRecordsNoResult) {
  ClearRunRecord();
  const HelperLog log = RunHelperAndReadLog("-elevateFor: {1234} -zar: 7.5");
  EXPECT_EQ(RunRecordValue("LastRunResult"), std::nullopt);
  ASSERT_TRUE(log.run.finished);
  EXPECT_EQ(log.run.exitCode, 0u);
  const auto messages = TaggedMessages(log.content);
  ExpectStartAndMetadata(messages);
  EXPECT_EQ(CountOf(messages, "(HandlePerUserKelvoComponents)  >>>"), 0u);
  EXPECT_EQ(CountOf(messages, "(HandlePostRunActivities)  >>>"), 0u);
  const std::string argLines = "-zar: 7.5\r\n-elevateFor: {1234}\r\n";
  EXPECT_NE(log.content.find(ExpectedDump(argLines, "False", "False", "0")), std::string::npos)
      << log.content;
  EXPECT_NE(log.content.find(ExpectedDump(argLines, "True", "False", "0")), std::string::npos)
      << log.content;
  EXPECT_NE(log.content.find("(PL.Dtor)  ===Tessaly Remedion Exiting at "), std::string::npos);
}

TEST(RunDriver, UnrecognisedSwitchIsLoggedAndTheRunGoesOn) {
  const HelperLog log = RunHelperAndReadLog("-unknown: value");
  ASSERT_TRUE(log.run.finished);
  EXPECT_EQ(log.run.exitCode, 0u);
  const auto messages = TaggedMessages(log.content);
  EXPECT_EQ(CountOf(messages,
                    "(ConfigDrivenState::ParseCLArgs)  Unrecognized / Incomplete arg -unknown: (at "
                    "2); Aborting CL Parsing now"),
            1u);
  EXPECT_EQ(CountOf(messages, "(ConfigDrivenState::ParseCLArgs)  <<<  ; Returning 87"), 1u);
  EXPECT_EQ(CountOf(messages, "(HandlePerUserKelvoComponents)  >>>"), 2u);
  EXPECT_NE(log.content.find(ExpectedDump("", "True", "False", "87")), std::string::npos)
      << log.content;
}

TEST(RunDriver, AProgressBoxThatCannotBeCreatedLeavesTheRunGoing) {
  // A Wine setting for the helper alone switches off the library that
  // provides the shell's progress dialog, so creating the dialog fails.
  const char* overrides = "Software\\Wine\\AppDefaults\\OrvaneUpgradeHelper.exe\\DllOverrides";
  HKEY key = nullptr;
  ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, overrides, 0, nullptr, 0, KEY_WRITE, nullptr, &key,
                            nullptr),
            ERROR_SUCCESS);
  RegSetValueExA(key, "browseui", 0, REG_SZ, reinterpret_cast<const BYTE*>(""), 1);
  RegCloseKey(key);
  const HelperLog log = RunHelperAndReadLog("");
  RegDeleteTreeA(HKEY_CURRENT_USER, "Software\\Wine\\AppDefaults\\OrvaneUpgradeHelper.exe");

  ASSERT_TRUE(log.run.finished);
  EXPECT_EQ(log.run.exitCode, 0u);
  const auto messages = TaggedMessages(log.content);
  EXPECT_EQ(CountOf(messages,
                    "(ConfigDrivenState::ConfigDrivenState)  Exception occured: An error occurred "
                    "while initializing Progress Message box"),
            1u);
  EXPECT_EQ(CountOf(messages, "(HandlePerUserKelvoComponents)  >>>"), 2u);
  EXPECT_NE(log.content.find("(PL.Dtor)  ===Tessaly Remedion Exiting at "), std::string::npos);
}
