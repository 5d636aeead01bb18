// The progress box driven by a probe program under Xvfb, judged by its log
// lines and by how long the shown messages kept it busy.
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

std::string Received(const std::string& text) {
  return "(QVProgressMessageBox::getUpdate)  Progress Msg Received: " + text;
}

}  // namespace

TEST(ProgressBox, InvalidSettingsThrowAndLeaveNothingBehind) {
  const LoggedRun run = RunProgressProbe("invalid");
  ASSERT_TRUE(run.child.finished);
  EXPECT_EQ(run.child.exitCode, 0u) << "2: no throw, 3: wrong text, 4: handles left";
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

TEST(ProgressBox, WhatTheProgressThreadThrowsIsLoggedAtTheJoin) {
  const LoggedRun run = RunProgressProbe("task-throws");
  ASSERT_TRUE(run.child.finished);
  EXPECT_EQ(run.child.exitCode, 0u) << "5: a future still valid after the join";
  const int standard =
      IndexOf(run.messages, "(probe::join)  CPP Exception caught in progress thread:  dialog gone");
  const int other =
      IndexOf(run.messages, "(probe::join)  Unknown Exception caught in progress thread");
  EXPECT_NE(standard, -1);
  EXPECT_GT(other, standard);
  EXPECT_GT(IndexOf(run.messages, "(probe)  survived"), other);
  // The task that ended normally, and the empty one, log nothing.
  size_t joins = 0;
  for (const std::string& message : run.messages) {
    if (message.rfind("(probe::join)", 0) == 0) ++joins;
  }
  EXPECT_EQ(joins, 2u);
}

TEST(ProgressBox, DestructionReleasesTheBoxsHandles) {
  const LoggedRun run = RunProgressProbe("handles");
  ASSERT_TRUE(run.child.finished);
  EXPECT_EQ(run.child.exitCode, 0u) << "6: the handle count grew, 7: no handle count";
}
