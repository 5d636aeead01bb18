// The whole helper run as a child, judged by its exit code and its log.
#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <vector>

#include "logging/log_text.h"
#include "tests/support/component_profile.h"
#include "tests/support/test_support.h"
#include "tests/support/wine_load_order.h"

using namespace test_support;

namespace {

// The runs here look at the run driver, not at the remediation: with both
// components current the passes find nothing to do and change nothing. Set
// up once for the suite (not for the whole program: the program holds other
// suites, which start from a profile of their own).
class RunDriver : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    ResetProfile();
    InstallCurrentComponents();
  }
  static void TearDownTestSuite() { ResetProfile(); }
};

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

// The run's first records: the entry and the build's metadata.
void ExpectStartAndMetadata(const std::vector<std::string>& messages) {
  ASSERT_GE(messages.size(), 8u);
  EXPECT_EQ(messages[0], "(main)  >>>");
  EXPECT_EQ(messages[1], "(LogMeta)  >>>  LogMeta");
  EXPECT_TRUE(std::regex_match(
      messages[2], std::regex(R"(\(LogMeta\)  BUILDNO:      \d{2}\.\d{2}\.\d{4}\.\d{4})")));
  EXPECT_TRUE(std::regex_match(
      messages[3],
      std::regex(R"(\(LogMeta\)  BUILDTS:      \d{4}-\d{2}-\d{2}  \d{2}:\d{2}:\d{2} UTC)")));
  // The build number is made from the same reading of the clock.
  std::smatch ts;
  if (std::regex_match(
          messages[3], ts,
          std::regex(R"(.*  \d{2}(\d{2})-(\d{2})-(\d{2})  (\d{2}):(\d{2}):(\d{2}) UTC)"))) {
    EXPECT_EQ(messages[2], "(LogMeta)  BUILDNO:      " + ts[1].str() + "." + ts[2].str() + "." +
                               ts[3].str() + ts[4].str() + "." + ts[5].str() + ts[6].str());
  }
  EXPECT_TRUE(
      std::regex_match(messages[4], std::regex(R"(\(LogMeta\)  DEVIATION:    [A-Za-z0-9+/]+=*)")));
  // 40 hexadecimal digits are 56 Base64 characters.
  EXPECT_TRUE(std::regex_match(messages[5],
                               std::regex(R"(\(LogMeta\)  REVISION:     [A-Za-z0-9+/]{54}==)")));
  EXPECT_EQ(messages[6], "(LogMeta)  BUILDCONFIG:  Release");
  EXPECT_EQ(messages[7], "(LogMeta)  <<<  LogMeta");
}

}  // namespace

TEST_F(RunDriver, WithoutArgumentsRunsThePassesBetweenTwoDumps) {
  const LoggedRun run = RunHelper("");
  ASSERT_TRUE(run.child.finished);
  EXPECT_EQ(run.child.exitCode, 0u);
  ExpectStartAndMetadata(run.messages);
  EXPECT_EQ(CountOf(run.messages, "(ConfigDrivenState::ParseCLArgs)  >>>  ; ArgCount = 1"), 1u);
  EXPECT_EQ(CountOf(run.messages,
                    "(ConfigDrivenState::ParseCLArgs)  <<<  ; No ParseCLArgs to parse; Returning "
                    "ERROR_SUCCESS"),
            1u);
  EXPECT_EQ(CountOf(run.messages, "(ConfigDrivenState::ParseCLArgs)  <<<  ; Returning 0"), 1u);
  EXPECT_EQ(CountOf(run.messages,
                    "(GetCurrentProcessIntegrityLevel)  <<<  ; Calculated Process Integrity Level "
                    "for Process [" +
                        std::to_string(run.child.pid) + "] is 3"),
            1u);
  EXPECT_EQ(CountOf(run.messages, "(HandlePerUserKelvoComponents)  >>>"), 2u);
  EXPECT_EQ(CountOf(run.messages, "(HandlePostRunActivities)  >>>"), 1u);

  // The first dump shows the command line; the final one the forced re-run.
  const size_t first = run.log.find(ExpectedDump("", "False", "True", "0"));
  const size_t last = run.log.find(ExpectedDump("", "True", "True", "0"));
  EXPECT_NE(first, std::string::npos) << run.log;
  EXPECT_NE(last, std::string::npos) << run.log;
  EXPECT_LT(first, last);

  // One final result, whichever the machine gives, before the final dump.
  EXPECT_EQ(CountOf(run.messages, FinalResultLine("Success")) +
                CountOf(run.messages, FinalResultLine("Failure")),
            1u);
  EXPECT_LT(run.log.find("Final result of remediation"), last);

  // The logger is shut down last: its exit banner ends the file.
  const auto lines = SplitCrLfLines(run.log);
  ASSERT_GE(lines.size(), 3u);
  EXPECT_NE(lines[lines.size() - 3].find("(PL.Dtor)  ===Tessaly Remedion Exiting at "),
            std::string::npos);
}

TEST_F(RunDriver, ElevateForSkipsThePassesAndRecordsNoResult) {
  ClearRunRecord();
  const LoggedRun run = RunHelper("-elevateFor: {1234} -zar: 7.5");
  EXPECT_EQ(RunRecordValue("LastRunResult"), std::nullopt);
  ASSERT_TRUE(run.child.finished);
  EXPECT_EQ(run.child.exitCode, 0u);
  ExpectStartAndMetadata(run.messages);
  EXPECT_EQ(CountOf(run.messages, "(HandlePerUserKelvoComponents)  >>>"), 0u);
  EXPECT_EQ(CountOf(run.messages, "(HandlePostRunActivities)  >>>"), 0u);
  const std::string argLines = "-zar: 7.5\r\n-elevateFor: {1234}\r\n";
  EXPECT_NE(run.log.find(ExpectedDump(argLines, "False", "False", "0")), std::string::npos)
      << run.log;
  EXPECT_NE(run.log.find(ExpectedDump(argLines, "True", "False", "0")), std::string::npos)
      << run.log;
  EXPECT_TRUE(run.LogHolds("(PL.Dtor)  ===Tessaly Remedion Exiting at "));
}

TEST_F(RunDriver, UnrecognisedSwitchIsLoggedAndTheRunGoesOn) {
  const LoggedRun run = RunHelper("-unknown: value");
  ASSERT_TRUE(run.child.finished);
  EXPECT_EQ(run.child.exitCode, 0u);
  EXPECT_EQ(CountOf(run.messages,
                    "(ConfigDrivenState::ParseCLArgs)  Unrecognized / Incomplete arg -unknown: (at "
                    "2); Aborting CL Parsing now"),
            1u);
  EXPECT_EQ(CountOf(run.messages, "(ConfigDrivenState::ParseCLArgs)  <<<  ; Returning 87"), 1u);
  EXPECT_EQ(CountOf(run.messages, "(HandlePerUserKelvoComponents)  >>>"), 2u);
  EXPECT_NE(run.log.find(ExpectedDump("", "True", "False", "87")), std::string::npos) << run.log;
}

TEST_F(RunDriver, AProgressBoxThatCannotBeCreatedLeavesTheRunGoing) {
  // A Wine setting for the helper alone switches off the library that
  // provides the shell's progress dialog, so creating the dialog fails.
  constexpr char kSwitchedOff[] = "";
  const ScopedLoadOrder browseUi(FileNamePart(HelperExePath()), {"browseui.dll"}, kSwitchedOff);
  ASSERT_TRUE(browseUi.Holds(kSwitchedOff));
  const LoggedRun run = RunHelper("");

  ASSERT_TRUE(run.child.finished);
  EXPECT_EQ(run.child.exitCode, 0u);
  EXPECT_EQ(CountOf(run.messages,
                    "(ConfigDrivenState::ConfigDrivenState)  Exception occured: An error occurred "
                    "while initializing Progress Message box"),
            1u);
  EXPECT_EQ(CountOf(run.messages, "(HandlePerUserKelvoComponents)  >>>"), 2u);
  EXPECT_TRUE(run.LogHolds("(PL.Dtor)  ===Tessaly Remedion Exiting at "));
}
