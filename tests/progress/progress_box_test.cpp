// The progress box driven by a probe program under Xvfb, judged by its log
// lines, its exit code and how long the shown messages kept it busy. The
// ProgressBox cases show the shell's dialog; the StalledProgressDialog ones
// put a dialog in its place that shows nothing.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/test_support.h"

using namespace test_support;

namespace {

LoggedRun RunProgressProbe(const std::string& scenario) {
  return RunProbe("progress_probe.exe", scenario);
}

const std::string kStarted = "(QVProgressMessageBox::start::<lambda()>)  Progress window started";
const std::string kFinishReceived =
    "(QVProgressMessageBox::getUpdate)  Progress Finish notification received";
const std::string kEndedEarly =
    "(QVProgressMessageBox::progressThreadProc)  Progress Messages Ended before Max Msg limit was "
    "reached.";
const std::string kExhausted =
    "(QVProgressMessageBox::progressThreadProc)  Progress Messages Exhauted";
const std::string kNotStarted =
    "(QVProgressMessageBox::start::<lambda()>)  Progress window did not start within 2000 ms; "
    "going on without it";
const std::string kNotEnded =
    "(QVProgressMessageBox::~QVProgressMessageBox)  Progress window did not end within 5000 ms; "
    "going on without it";

std::string Received(const std::string& text) {
  return "(QVProgressMessageBox::getUpdate)  Progress Msg Received: " + text;
}

// The probe's exit codes (progress_probe.cpp).
const char* const kProbeFailures =
    "2: no throw, 3: wrong text, 4: handles left, 5: no handle count, 6: not planted, "
    "7: the dialog did not stall, 8: the thread kept its dialog";

}  // namespace

TEST(ProgressBox, InvalidSettingsThrowAndLeaveNothingBehind) {
  const LoggedRun run = RunProgressProbe("invalid");
  ASSERT_TRUE(run.child.finished);
  EXPECT_EQ(run.child.exitCode, 0u) << kProbeFailures;
  const std::string empty =
      "(QVProgressMessageBox::init)  Title or starting message or Both are empty";
  const std::string zero =
      "(QVProgressMessageBox::init)  No of states should be greater than Zero(0)";
  EXPECT_EQ(CountOf(run.messages, empty), 2u);
  EXPECT_EQ(CountOf(run.messages, zero), 1u);
}

TEST(ProgressBox, WithoutStartNothingIsShownAndDestructionIsImmediate) {
  const LoggedRun run = RunProgressProbe("no-start");
  ASSERT_TRUE(run.child.finished);
  EXPECT_EQ(run.child.exitCode, 0u);
  EXPECT_EQ(IndexOf(run.messages, kStarted), -1);
  EXPECT_EQ(IndexOf(run.messages, Received("never shown")), -1);
  EXPECT_NE(IndexOf(run.messages, "(probe)  destroyed"), -1);
  EXPECT_LT(run.elapsedMs, 5000u);
}

TEST(ProgressBox, MessagesBeforeStartAreDroppedAndStartWorksOnce) {
  const LoggedRun run = RunProgressProbe("before-start");
  ASSERT_TRUE(run.child.finished);
  EXPECT_EQ(CountOf(run.messages, kStarted), 1u);
  EXPECT_EQ(IndexOf(run.messages, Received("sent before start")), -1);
  const int shown = IndexOf(run.messages, Received("after start"));
  const int finish = IndexOf(run.messages, kFinishReceived);
  EXPECT_NE(shown, -1);
  EXPECT_GT(finish, shown);
  EXPECT_GT(IndexOf(run.messages, kEndedEarly), finish);
  EXPECT_LT(IndexOf(run.messages, kEndedEarly), IndexOf(run.messages, "(probe)  destroyed"));
}

TEST(ProgressBox, QueuedMessagesAreShownInOrderBeforeFinishing) {
  const LoggedRun run = RunProgressProbe("two-quick");
  ASSERT_TRUE(run.child.finished);
  const int started = IndexOf(run.messages, kStarted);
  const int first = IndexOf(run.messages, Received("Uninstalling Setup Client..."));
  const int second = IndexOf(run.messages, Received("Uninstalling KVAL..."));
  const int finish = IndexOf(run.messages, kFinishReceived);
  EXPECT_NE(started, -1);
  EXPECT_GT(first, started);
  EXPECT_GT(second, first);
  EXPECT_GT(finish, second);
  EXPECT_GT(IndexOf(run.messages, kEndedEarly), finish);
  // One second for the dialog to come up, one for each message, one for
  // "Finishing...".
  EXPECT_GE(run.elapsedMs, 4000u);
}

TEST(ProgressBox, SevenMessagesWithFiveStatesShowSixThenExhaust) {
  const LoggedRun run = RunProgressProbe("seven");
  ASSERT_TRUE(run.child.finished);
  int previous = IndexOf(run.messages, kStarted);
  for (int i = 1; i <= 6; ++i) {
    const int shown = IndexOf(run.messages, Received("message " + std::to_string(i)));
    EXPECT_GT(shown, previous) << i;
    previous = shown;
  }
  EXPECT_EQ(IndexOf(run.messages, Received("message 7")), -1);
  EXPECT_GT(IndexOf(run.messages, kExhausted), previous);
  EXPECT_LT(IndexOf(run.messages, kExhausted), IndexOf(run.messages, "(probe)  destroying"));
  EXPECT_EQ(IndexOf(run.messages, kFinishReceived), -1);
  EXPECT_EQ(IndexOf(run.messages, kEndedEarly), -1);
}

TEST(ProgressBox, DestructionReleasesTheBoxsHandles) {
  const LoggedRun run = RunProgressProbe("handles");
  ASSERT_TRUE(run.child.finished);
  EXPECT_EQ(run.child.exitCode, 0u) << kProbeFailures;
  EXPECT_EQ(CountOf(run.messages, kStarted), 2u);
}

// The window in front when the box was made is gone by its start (another
// program closed it): the dialog still comes up, without an owner, instead
// of waiting for good for a window that cannot be made.
TEST(ProgressBox, AnOwnerWindowThatIsGoneDoesNotKeepTheDialogFromStarting) {
  const LoggedRun run = RunProgressProbe("owner-gone");
  ASSERT_TRUE(run.child.finished);
  ASSERT_EQ(run.child.exitCode, 0u) << kProbeFailures;
  EXPECT_TRUE(run.HasPrefix("(probe)  owner 0x"));
  EXPECT_TRUE(run.HasPrefix("(QVProgressMessageBox::progressThreadProc)  The window the progress "
                            "window was to stay in front of (0x"));
  const int started = IndexOf(run.messages, kStarted);
  EXPECT_NE(started, -1);
  EXPECT_GT(IndexOf(run.messages, Received("shown anyway")), started);
  EXPECT_GT(IndexOf(run.messages, kEndedEarly), started);
}

// A dialog whose start never returns: start() goes on at its limit, the
// messages are dropped, destruction goes on at its own; once the call
// returns after all, the thread ends and nothing of the box is left.
TEST(StalledProgressDialog, ADialogThatNeverStartsCostsTheLimitsAndLeavesNothing) {
  const LoggedRun run = RunProgressProbe("stalled-start");
  ASSERT_TRUE(run.child.finished);
  EXPECT_EQ(run.child.exitCode, 0u) << kProbeFailures;
  const int notStarted = IndexOf(run.messages, kNotStarted);
  EXPECT_NE(notStarted, -1);
  EXPECT_GT(IndexOf(run.messages, kNotEnded), notStarted);
  EXPECT_EQ(IndexOf(run.messages, kStarted), -1);
  EXPECT_FALSE(run.HasPrefix("(QVProgressMessageBox::getUpdate)  Progress Msg Received"));
  // Nothing of the thread's is logged after the box gave up on it.
  EXPECT_EQ(IndexOf(run.messages, kFinishReceived), -1);
}

// A dialog that never closes: destruction goes on at its limit.
TEST(StalledProgressDialog, ADialogThatNeverClosesCostsTheLimitAndLeavesNothing) {
  const LoggedRun run = RunProgressProbe("stalled-stop");
  ASSERT_TRUE(run.child.finished);
  EXPECT_EQ(run.child.exitCode, 0u) << kProbeFailures;
  const int shown = IndexOf(run.messages, Received("while stalled or not"));
  EXPECT_GT(shown, IndexOf(run.messages, kStarted));
  EXPECT_GT(IndexOf(run.messages, kEndedEarly), shown);
  EXPECT_GT(IndexOf(run.messages, kNotEnded), IndexOf(run.messages, kEndedEarly));
}
