// The progress box driven by a probe program under Xvfb, judged by its log
// lines and by how long the shown messages kept it busy.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/test_support.h"

using namespace test_support;

namespace {

struct ProbeRun {
  ChildResult child;
  ULONGLONG elapsedMs = 0;
  std::vector<std::string> messages;  // "(tag)  text" of each log record
};

ProbeRun RunProbe(const std::string& scenario) {
  ProbeRun run;
  const ULONGLONG started = GetTickCount64();
  run.child = RunChild("\"" + TestProgramPath("progress_probe.exe") + "\" " + scenario,
                       [](DWORD pid) { DeleteFileA(LogPathForPid(pid).c_str()); });
  run.elapsedMs = GetTickCount64() - started;
  const std::string log = ReadFileBytes(LogPathForPid(run.child.pid)).value_or("");
  for (const auto& line : SplitCrLfLines(log)) {
    const size_t tag = line.find("  (");
    if (line.rfind("[", 0) == 0 && tag != std::string::npos) {
      run.messages.push_back(line.substr(line.find('(', line.find("]  p"))));
    }
  }
  return run;
}

// The position of `message` in the log, or -1.
int IndexOf(const ProbeRun& run, const std::string& message) {
  for (size_t i = 0; i < run.messages.size(); ++i) {
    if (run.messages[i] == message) return static_cast<int>(i);
  }
  return -1;
}

const std::string kStarted = "(QVProgressMessageBox::start::<lambda()>)  Progress window started";
const std::string kFinishReceived =
    "(QVProgressMessageBox::getUpdate)  Progress Finish notification received";
const std::string kEndedEarly =
    "(QVProgressMessageBox::progressThreadProc)  Progress Messages Ended before Max Msg limit was "
    "reached.";
const std::string kExhausted =
    "(QVProgressMessageBox::progressThreadProc)  Progress Messages Exhauted";

std::string Received(const std::string& text) {
  return "(QVProgressMessageBox::getUpdate)  Progress Msg Received: " + text;
}

}  // namespace

TEST(ProgressBox, InvalidSettingsThrowAndLeaveNothingBehind) {
  const ProbeRun run = RunProbe("invalid");
  ASSERT_TRUE(run.child.finished);
  EXPECT_EQ(run.child.exitCode, 0u) << "2: no throw, 3: wrong text, 4: handles left";
  const std::string empty =
      "(QVProgressMessageBox::init)  Title or starting message or Both are empty";
  const std::string zero =
      "(QVProgressMessageBox::init)  No of states should be greater than Zero(0)";
  EXPECT_EQ(std::count(run.messages.begin(), run.messages.end(), empty), 2);
  EXPECT_EQ(std::count(run.messages.begin(), run.messages.end(), zero), 1);
}

TEST(ProgressBox, WithoutStartNothingIsShownAndDestructionIsImmediate) {
  const ProbeRun run = RunProbe("no-start");
  ASSERT_TRUE(run.child.finished);
  EXPECT_EQ(run.child.exitCode, 0u);
  EXPECT_EQ(IndexOf(run, kStarted), -1);
  EXPECT_EQ(IndexOf(run, Received("never shown")), -1);
  EXPECT_NE(IndexOf(run, "(probe)  destroyed"), -1);
  EXPECT_LT(run.elapsedMs, 5000u);
}

TEST(ProgressBox, MessagesBeforeStartAreDroppedAndStartWorksOnce) {
  const ProbeRun run = RunProbe("before-start");
  ASSERT_TRUE(run.child.finished);
  EXPECT_EQ(std::count(run.messages.begin(), run.messages.end(), kStarted), 1);
  EXPECT_EQ(IndexOf(run, Received("sent before start")), -1);
  const int shown = IndexOf(run, Received("after start"));
  const int finish = IndexOf(run, kFinishReceived);
  EXPECT_NE(shown, -1);
  EXPECT_GT(finish, shown);
  EXPECT_GT(IndexOf(run, kEndedEarly), finish);
  EXPECT_LT(IndexOf(run, kEndedEarly), IndexOf(run, "(probe)  destroyed"));
}

TEST(ProgressBox, QueuedMessagesAreShownInOrderBeforeFinishing) {
  const ProbeRun run = RunProbe("two-quick");
  ASSERT_TRUE(run.child.finished);
  const int started = IndexOf(run, kStarted);
  const int first = IndexOf(run, Received("Uninstalling Setup Client..."));
  const int second = IndexOf(run, Received("Uninstalling KVAL..."));
  const int finish = IndexOf(run, kFinishReceived);
  EXPECT_NE(started, -1);
  EXPECT_GT(first, started);
  EXPECT_GT(second, first);
  EXPECT_GT(finish, second);
  EXPECT_GT(IndexOf(run, kEndedEarly), finish);
  // One second for the dialog to come up, one for each message, one for
  // "Finishing...".
  EXPECT_GE(run.elapsedMs, 4000u);
}

TEST(ProgressBox, SevenMessagesWithFiveStatesShowSixThenExhaust) {
  const ProbeRun run = RunProbe("seven");
  ASSERT_TRUE(run.child.finished);
  int previous = IndexOf(run, kStarted);
  for (int i = 1; i <= 6; ++i) {
    const int shown = IndexOf(run, Received("message " + std::to_string(i)));
    EXPECT_GT(shown, previous) << i;
    previous = shown;
  }
  EXPECT_EQ(IndexOf(run, Received("message 7")), -1);
  EXPECT_GT(IndexOf(run, kExhausted), previous);
  EXPECT_LT(IndexOf(run, kExhausted), IndexOf(run, "(probe)  destroying"));
  EXPECT_EQ(IndexOf(run, kFinishReceived), -1);
  EXPECT_EQ(IndexOf(run, kEndedEarly), -1);
}
