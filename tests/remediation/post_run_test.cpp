#include <windows.h>

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "build_info.h"
#include "progress/qv_progress_message_box.h"
#include "remediation/post_run_activities.h"
#include "remediation/remediation_run.h"
#include "remediation/run_outcome.h"
#include "state/config_driven_state.h"
#include "tests/support/component_profile.h"
#include "tests/support/handle_count.h"
#include "tests/support/test_support.h"
#include "tests/support/scoped_registry_tree.h"

using namespace test_support;
using registry_test::ScopedRegistryTree;

namespace {

constexpr char kProductCodeArgs[] = "-kuhMSIProdCode: {0A1B2C3D-1111-2222-3333-444455556666}";
constexpr char kVersionCheckArgs[] =
    "-zar: z -kuhMSIProdCode: {0A1B2C3D-1111-2222-3333-444455556666}";

const std::string kSuccessLine = FinalResultLine("Success");
const std::string kFailureLine = FinalResultLine("Failure");
// Multi-line alerts as the log file holds them: one record, CR LF inside.
const std::string kFailureAlert =
    "(HandlePostRunActivities)  Would've displayed:  Orvane Upgrade Helper could not complete; "
    "Please re-install KelvoUpgradeHelperInstaller.msi.\r\nIf issue persists and you are not able "
    "to connect to Vorngate (Gateway), please contact your support.\r\n";
const std::string kSuccessAlert =
    "(HandlePostRunActivities)  Would've displayed:  Orvane Upgrade Helper Completed.\r\n";
const std::string kNotInvokedByMsiAlert =
    "(HandlePostRunActivities)  Not invoked by MSI; Skipping this alert message:\r\n"
    "Orvane Upgrade Helper Completed.\r\n";

LoggedRun RunPostRunProbe(const std::string& arguments) {
  return RunProbe("post_run_probe.exe", arguments);
}

constexpr char kRecordTag[] = "(WriteRunResultRecord)  ";

// The records of the final result from the post-run step's entry to its
// exit: the result record's line and the components' second reading with
// the outcome it gives aside (their own tests look at them). The second
// reading is quiet: the version check's own lines would show here.
std::vector<std::string> PostRunRecords(const LoggedRun& run) {
  const int first = IndexOf(run.messages, "(HandlePostRunActivities)  >>>");
  const int last = IndexOf(run.messages, "(HandlePostRunActivities)  <<<");
  if (first < 0 || last < first) return {};
  const char* const asides[] = {kRecordTag,
                                "(ReadComponentsAfterRun)  ",
                                "(HandlePostRunActivities)  Verified outcome of this run:  ",
                                "(HandlePostRunActivities)  The final result says "};
  std::vector<std::string> records;
  for (int index = first; index <= last; ++index) {
    const std::string& record = run.messages[index];
    bool aside = false;
    for (const char* prefix : asides) aside = aside || record.rfind(prefix, 0) == 0;
    if (!aside) records.push_back(record);
  }
  return records;
}

std::string RecordValue(const char* name) { return RunRecordValue(name).value_or("(none)"); }

// The completion marker, the required version under HKEY_LOCAL_MACHINE (in
// the 32-bit view the shipped helper reads) and the desktop client's version
// file, each set up by the test and put back afterwards. The version file
// lives in a program-files folder of the test's own.
class PostRunTest : public ::testing::Test {
 protected:
  PostRunTest()
      : userKey_(HKEY_CURRENT_USER, "SOFTWARE", "TESSALY", 0),
        machineKey_(HKEY_LOCAL_MACHINE, "SOFTWARE", "TESSALY", KEY_WOW64_32KEY),
        programFiles_("ProgramFiles(x86)", programFilesDir_.path().c_str()) {}

 private:
  ScopedRegistryTree userKey_;
  ScopedRegistryTree machineKey_;
  ScopedTempDir programFilesDir_;
  ScopedEnvVar programFiles_;
};

}  // namespace

TEST(ExtractBuildNumber, TakesTheTextAfterTheLastFullStop) {
  EXPECT_EQ(ExtractBuildNumber("22.7.3.1234"), "1234");
  EXPECT_EQ(ExtractBuildNumber("22.7.3.12x"), "12x");
  EXPECT_EQ(ExtractBuildNumber(".5"), "5");
  EXPECT_EQ(ExtractBuildNumber("a.b c"), "b c");
  // No full stop, or one at the end: no build number.
  for (const char* none : {"NotInREG", "NotInINI", "1234", "", "22.7.3.", "."}) {
    EXPECT_EQ(ExtractBuildNumber(none), "") << "[" << none << "]";
  }
}

TEST(ParseBuildNumber, ReadsAsStrtoulDoesAndGivesZeroForNoDigitsOrMoreThan32Bits) {
  const std::pair<std::string, uint32_t> cases[] = {
      {"1234", 1234u},
      {"0012", 12u},
      {" \t\r\n\v\f77", 77u},
      {"+77", 77u},
      {"12x", 12u},
      {"1 2", 1u},
      {"0x1A", 0u},  // decimal only: the digits end at the x
      {"4294967295", 4294967295u},
      // A minus sign negates in unsigned 32-bit arithmetic, as strtoul does
      // where unsigned long has 32 bits.
      {"-1", 4294967295u},
      {"-4294967295", 1u},
      {"", 0u},
      {" ", 0u},
      {"x12", 0u},
      {"+", 0u},
      {"-", 0u},
      {"- 5", 0u},
      {"+-5", 0u},
      {"4294967296", 0u},
      {"12345678901", 0u},
      {"-4294967296", 0u},
      {"123456789012345678901234567890", 0u},
  };
  for (const auto& [text, value] : cases) {
    EXPECT_EQ(ParseBuildNumber(text), value) << "[" << text << "]";
  }
}

TEST_F(PostRunTest, WithoutTheMarkerTheResultIsFailureAndNoVersionIsChecked) {
  SetRequiredDesktopClientVersion("22.7.3.1234");
  SetInstalledDesktopClientVersion("22.7.3.1234");
  for (const char* arguments : {"", kProductCodeArgs, kVersionCheckArgs}) {
    const LoggedRun run = RunPostRunProbe(arguments);
    ASSERT_TRUE(run.child.finished);
    EXPECT_EQ(run.child.exitCode, 12u) << arguments;  // Failure, the check left alone
    EXPECT_EQ(PostRunRecords(run),
              (std::vector<std::string>{
                  "(HandlePostRunActivities)  >>>",
                  "(IsPerUserCompStatusMarkedInRegistry)  >>>",
                  "(GetStringFromReg)  Status of PerUserCompsFixed in reg is False",
                  kFailureLine,
                  kFailureAlert.substr(0, kFailureAlert.find("\r\n")),
                  "(HandlePostRunActivities)  <<<",
              }))
        << arguments;
    // The failure alert is logged whole, also without the installer's switch.
    EXPECT_NE(run.log.find(kFailureAlert), std::string::npos) << arguments;
    EXPECT_EQ(run.log.find("IsKDCUpgradeNeeded"), std::string::npos) << arguments;
  }
}

TEST_F(PostRunTest, WithTheMarkerAndNoZarValueTheResultIsSuccess) {
  SetCompletionMarker();
  // Versions that would fail the check: it does not run.
  SetRequiredDesktopClientVersion(std::nullopt);
  SetInstalledDesktopClientVersion(std::nullopt);

  const LoggedRun byHand = RunPostRunProbe("");
  ASSERT_TRUE(byHand.child.finished);
  EXPECT_EQ(byHand.child.exitCode, 13u);
  EXPECT_EQ(PostRunRecords(byHand),
            (std::vector<std::string>{
                "(HandlePostRunActivities)  >>>",
                "(IsPerUserCompStatusMarkedInRegistry)  >>>",
                "(GetStringFromReg)  Status of PerUserCompsFixed in reg is True",
                kSuccessLine,
                "(HandlePostRunActivities)  Not invoked by MSI; Skipping this alert message:",
                "(HandlePostRunActivities)  <<<",
            }));
  EXPECT_NE(byHand.log.find(kNotInvokedByMsiAlert), std::string::npos);

  // Started by the installer package, with an empty "-zar:" value.
  const LoggedRun byInstaller = RunPostRunProbe(std::string("-zar: \"\" ") + kProductCodeArgs);
  ASSERT_TRUE(byInstaller.child.finished);
  EXPECT_EQ(byInstaller.child.exitCode, 13u);
  const auto records = PostRunRecords(byInstaller);
  ASSERT_GE(records.size(), 3u);
  EXPECT_EQ(records[records.size() - 3], kSuccessLine);
  EXPECT_NE(byInstaller.log.find(kSuccessAlert), std::string::npos);
  EXPECT_EQ(byInstaller.log.find("Not invoked by MSI"), std::string::npos);
  EXPECT_EQ(byInstaller.log.find("IsKDCUpgradeNeeded"), std::string::npos);
}

TEST_F(PostRunTest, WithAZarValueOnlyTheBuildNumbersDecide) {
  SetCompletionMarker();
  const struct {
    std::optional<std::string> required;
    std::optional<std::string> installed;
    bool success;
    std::string regLine;  // what "Status of KDCVersion in reg is" shows
    std::string iniVersion;
    std::string builds;  // the "Build#  from:" line's values
  } cases[] = {
      {"22.7.3.1234", "22.7.3.1234", true, "22.7.3.1234", "22.7.3.1234",
       "Reg:  1234 (1234);  INI:  1234 (1234)"},
      {"22.7.3.1234", "22.7.2.1100", false, "22.7.3.1234", "22.7.2.1100",
       "Reg:  1234 (1234);  INI:  1100 (1100)"},
      {"22.7.3.1234", "21.1.0.5000", true, "22.7.3.1234", "21.1.0.5000",
       "Reg:  1234 (1234);  INI:  5000 (5000)"},
      {std::nullopt, "22.7.3.1234", false, "NotInREG", "22.7.3.1234",
       "Reg:   (0);  INI:  1234 (1234)"},
      {"22.7.3.", "22.7.3.1234", false, "22.7.3.", "22.7.3.1234", "Reg:   (0);  INI:  1234 (1234)"},
      {"22.7.3.12345678901", "22.7.3.1234", false, "22.7.3.12345678901", "22.7.3.1234",
       "Reg:  12345678901 (0);  INI:  1234 (1234)"},
      {"22.7.3.1234", std::nullopt, false, "22.7.3.1234", "NotInINI",
       "Reg:  1234 (1234);  INI:   (0)"},
  };
  for (const auto& c : cases) {
    SetRequiredDesktopClientVersion(c.required);
    SetInstalledDesktopClientVersion(c.installed);
    const LoggedRun run = RunPostRunProbe(kVersionCheckArgs);
    const std::string label = c.regLine + " / " + c.iniVersion;
    ASSERT_TRUE(run.child.finished) << label;
    // kdcUpgradeNeeded ends as the check's outcome.
    EXPECT_EQ(run.child.exitCode, c.success ? 11u : 12u) << label;
    EXPECT_EQ(PostRunRecords(run),
              (std::vector<std::string>{
                  "(HandlePostRunActivities)  >>>",
                  "(IsPerUserCompStatusMarkedInRegistry)  >>>",
                  "(GetStringFromReg)  Status of PerUserCompsFixed in reg is True",
                  "(IsKDCUpgradeNeeded)  >>>",
                  "(IsKDCUpgradeNeeded::operator())  >>>",
                  "(GetStringFromReg)  Status of KDCVersion in reg is " + c.regLine,
                  "(IsKDCUpgradeNeeded::operator())  Version from:  Reg:  " + c.regLine +
                      ";  INI:  " + c.iniVersion,
                  "(IsKDCUpgradeNeeded::operator())  Build#  from:  " + c.builds,
                  std::string("(IsKDCUpgradeNeeded::operator())  <<<  ; Returning ") +
                      (c.success ? "0" : "1"),
                  std::string("(IsKDCUpgradeNeeded)  <<<  ; Returning:  ") +
                      (c.success ? "False" : "True"),
                  c.success ? kSuccessLine : kFailureLine,
                  c.success ? kSuccessAlert.substr(0, kSuccessAlert.find("\r\n"))
                            : kFailureAlert.substr(0, kFailureAlert.find("\r\n")),
                  "(HandlePostRunActivities)  <<<",
              }))
        << label;
    EXPECT_NE(run.log.find(c.success ? kSuccessAlert : kFailureAlert), std::string::npos) << label;
  }
}

// Management tools read the result beside the marker: the result word, when
// it was logged, which log tells more, which helper, and what it did.
TEST_F(PostRunTest, TheResultIsRecordedBesideTheMarkerForManagementTools) {
  SetCompletionMarker();
  const LoggedRun success = RunPostRunProbe(kProductCodeArgs);
  ASSERT_TRUE(success.child.finished);
  EXPECT_EQ(RecordValue("LastRunResult"), "Success");
  const long long age = SecondsSinceUtc(RecordValue("LastRunTime")).value_or(-1);
  EXPECT_GE(age, 0) << RecordValue("LastRunTime");
  EXPECT_LE(age, 60) << RecordValue("LastRunTime");
  EXPECT_EQ(RecordValue("LastRunLog"), LogPathForPid(success.child.pid));
  EXPECT_EQ(RecordValue("LastRunHelperVersion"), REMEDION_BUILD_NUMBER);
  EXPECT_EQ(RecordValue("LastRunSummary"), "terminated 0; uninstalled 0; installed 0");
  // The profile has no components: the marker of an earlier run says
  // "Success", the versions read now say otherwise, and the log says so.
  EXPECT_EQ(RecordValue("LastRunOutcome"), "NotRepaired");
  EXPECT_EQ(RecordValue("LastRunVersions"), "KVAL missing; KSC missing");
  EXPECT_EQ(CountOf(success.messages,
                    "(HandlePostRunActivities)  The final result says Success, but this run did "
                    "not repair KVAL (missing), KSC (missing)"),
            1u);
  // One line of its own, just before the step's exit.
  const auto& records = success.messages;
  const int exit = IndexOf(records, "(HandlePostRunActivities)  <<<");
  ASSERT_GT(exit, 0);
  EXPECT_EQ(records[exit - 1], std::string(kRecordTag) +
                                   "Run result recorded in HKCU\\SOFTWARE\\TESSALY\\REMEDION:  " +
                                   "Success; NotRepaired; KVAL missing; KSC missing; terminated 0; "
                                   "uninstalled 0; installed 0");
  EXPECT_EQ(RecordValue("PerUserCompsFixed"), "True") << "the marker keeps its meaning";

  ASSERT_EQ(RegDeleteKeyValueA(HKEY_CURRENT_USER, kRemedionKey, "PerUserCompsFixed"),
            ERROR_SUCCESS);
  ASSERT_TRUE(RunPostRunProbe("").child.finished);
  EXPECT_EQ(RecordValue("LastRunResult"), "Failure");
  EXPECT_EQ(RecordValue("PerUserCompsFixed"), "(none)");
}

TEST_F(PostRunTest, ReturnsTheResultAndReleasesWhatItOpens) {
  SetCompletionMarker();
  SetRequiredDesktopClientVersion("22.7.3.1234");
  SetInstalledDesktopClientVersion("22.7.2.1100");
  ConfigDrivenState state("C:\\x\\OrvaneUpgradeHelper.exe");
  state.ProgressBox.reset();
  state.zarArg = "z";
  const RemediationRun run;
  // The first call also creates the logger and its file.
  EXPECT_FALSE(HandlePostRunActivities(state, run));
  EXPECT_TRUE(state.kdcUpgradeNeeded);

  const DWORD before = OwnHandleCount();
  ASSERT_GT(before, 0u) << "no handle count";
  SetInstalledDesktopClientVersion("22.7.3.1234");
  EXPECT_TRUE(HandlePostRunActivities(state, run));
  EXPECT_FALSE(state.kdcUpgradeNeeded);
  state.zarArg.clear();
  state.kdcUpgradeNeeded = true;
  EXPECT_TRUE(HandlePostRunActivities(state, run));
  EXPECT_TRUE(state.kdcUpgradeNeeded);  // untouched without a check
  EXPECT_EQ(OwnHandleCount(), before);
}

// The outcome rests on the versions read after the passes: repaired only
// when both components are current and this run changed something; already
// current only when both were and nothing was changed.
TEST(RunOutcome, IsJudgedByTheVersionsReadAfterThePasses) {
  const ComponentReading current{VersionState::Current, "22.7.2"};
  const ComponentReading newer{VersionState::Current, "22.7.3"};
  const ComponentReading outdated{VersionState::Outdated, "22.7.1"};
  const ComponentReading missing{VersionState::Missing, ""};
  const ComponentReading broken{VersionState::Broken, ""};
  const ComponentReading unreadable{VersionState::Unreadable, ""};
  const ComponentReadings bothCurrent{current, newer};
  const struct {
    ComponentReadings before, after;
    bool changed;
    RunOutcome outcome;
  } cases[] = {
      {{outdated, missing}, bothCurrent, true, RunOutcome::Repaired},
      {{current, broken}, bothCurrent, true, RunOutcome::Repaired},
      {bothCurrent, bothCurrent, false, RunOutcome::AlreadyCurrent},
      {{outdated, current}, {outdated, current}, false, RunOutcome::NotRepaired},
      {{outdated, current}, {missing, current}, true, RunOutcome::NotRepaired},
      // Someone else's repair, or a component that could not be read, is
      // not this run's.
      {{missing, current}, bothCurrent, false, RunOutcome::NotRepaired},
      {{unreadable, current}, {unreadable, current}, false, RunOutcome::NotRepaired},
      {{}, {}, false, RunOutcome::NotRepaired},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(VersionsText(c.before) + " -> " + VersionsText(c.after));
    EXPECT_EQ(JudgeOutcome(c.before, c.after, c.changed), c.outcome);
  }
  EXPECT_EQ(VersionsText(bothCurrent), "KVAL 22.7.2; KSC 22.7.3");
  EXPECT_EQ(VersionsText({missing, broken}), "KVAL missing; KSC unreadable");
  EXPECT_EQ(ComponentsNotCurrent({current, unreadable}), "KSC (unreadable)");
  EXPECT_EQ(ComponentsNotCurrent(bothCurrent), "");
}
