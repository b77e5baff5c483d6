#include "memory/CancelWatchdog.h"

#include <gtest/gtest.h>

#include "support/RecordingUi.h"
#include "support/ScriptedPort.h"

namespace varnel {
namespace {

using testing::RecordingUi;
using testing::ScriptedPort;

class CancelWatchdogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    session.AttachUi(&ui);
    session.AttachPort(&port);
    session.NotePortOpened();
    session.RegisterHandler("L", [this](const std::string&) { ++lineReplies; });
    session.Await("CR0100");
    session.BeginUploadAll();
    ui.toolBarsEnabled = false;
  }

  Session session;
  RecordingUi ui;
  ScriptedPort port;
  CancelWatchdog watchdog{session};
  int lineReplies = 0;
};

TEST_F(CancelWatchdogTest, SilentTargetIsEndedAsTheStopBranchWould) {
  EXPECT_EQ(watchdog.Cancel(), 1000);
  EXPECT_TRUE(session.StopRequested);
  EXPECT_EQ(ui.refreshAllCount, 1);  // bytes so far shown at once
  EXPECT_FALSE(ui.toolBarsEnabled);
  EXPECT_EQ(watchdog.Check(), 0);
  EXPECT_TRUE(ui.toolBarsEnabled);
  EXPECT_TRUE(session.LastCommand.empty());
  EXPECT_FALSE(session.StopRequested);
  EXPECT_FALSE(session.UploadAllActive);
  EXPECT_EQ(ui.refreshAllCount, 2);
}

TEST_F(CancelWatchdogTest, AReplyAnswersTheStopAndTheWatchdogStaysQuiet) {
  watchdog.Cancel();
  port.Deliver("00 11\r\n>");
  EXPECT_TRUE(session.LastCommand.empty());
  session.Await("XR0000");  // a new upload has started meanwhile
  EXPECT_EQ(watchdog.Check(), 0);
  EXPECT_EQ(session.LastCommand.str(), "XR0000");
}

TEST_F(CancelWatchdogTest, ClosedPortEndsAtOnce) {
  port.open = false;
  EXPECT_EQ(watchdog.Cancel(), 0);
  EXPECT_TRUE(session.LastCommand.empty());
  EXPECT_TRUE(ui.toolBarsEnabled);
}

TEST_F(CancelWatchdogTest, LineDownloadKeepsEndingItselfWhileRepliesCome) {
  session.BeginProgramming();
  session.Await("L:10000000");
  watchdog.Cancel();
  EXPECT_EQ(ui.refreshAllCount, 0);  // programming: views untouched
  port.Deliver(".");                 // goes to the line handler; the stop stays
  EXPECT_EQ(lineReplies, 1);
  EXPECT_GT(watchdog.Check(), 0);
  EXPECT_EQ(session.LastCommand.str(), "L:10000000");
  EXPECT_EQ(watchdog.Check(), 0);  // then silence
  EXPECT_TRUE(session.LastCommand.empty());
  EXPECT_FALSE(session.ProgrammingActive);
}

TEST_F(CancelWatchdogTest, SlowLinesWaitForAWholeReply) {
  port.baud = br110;
  EXPECT_GT(watchdog.QuietMs(), 5000);
  port.baud = br9600;
  EXPECT_EQ(watchdog.QuietMs(), 1000);
}

}  // namespace
}  // namespace varnel
