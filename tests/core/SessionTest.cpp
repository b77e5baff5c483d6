#include "core/Session.h"

#include <gtest/gtest.h>

#include "support/RecordingUi.h"
#include "support/ScriptedPort.h"

namespace varnel {
namespace {

using testing::RecordingUi;
using testing::ScriptedPort;

class SessionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    session.AttachUi(&ui);
    session.AttachPort(&port);
    session.NotePortOpened();
    for (const char* key : {"CR", "CW", "F", "I", "L", "M", "R", "X"}) {
      session.RegisterHandler(key, [this, key](const std::string& reply) {
        routed.push_back(std::string(key) + "|" + reply);
      });
    }
  }

  Session session;
  RecordingUi ui;
  ScriptedPort port;
  std::vector<std::string> routed;
};

TEST_F(SessionTest, SendStringWritesOneUnterminatedWriteOnlyWhenItCan) {
  session.SendString("RRE9");
  session.SendString("");
  session.NotePortClosed();
  session.SendString("RRCA");
  ASSERT_EQ(port.writes.size(), 1u);
  EXPECT_EQ(port.writes[0], "RRE9");
}

TEST_F(SessionTest, StoredCommandKeepsTenCharactersAndTheSentTextIsTheStoredOne) {
  session.SendCommand("L:10000000020000", "");
  EXPECT_EQ(session.LastCommand.str(), "L:10000000");
  ASSERT_EQ(port.writes.size(), 1u);
  EXPECT_EQ(port.writes[0], "L:10000000");
  session.SendCommand("L:10000000", "020000\r");  // payload goes after the stored text
  EXPECT_EQ(port.writes[1], "L:10000000020000\r");
}

TEST_F(SessionTest, ReplyIsDispatchedOnceWhenAChunkEndsInATerminator) {
  session.Await("CR0000");
  port.Deliver("CR0000 00 11 ");
  port.Deliver("22\r\n");
  EXPECT_TRUE(routed.empty());
  port.Deliver(">");
  ASSERT_EQ(routed.size(), 1u);
  EXPECT_EQ(routed[0], "CR|CR0000 00 11 22\r\n>");
  EXPECT_TRUE(session.RxBuffer.empty());

  routed.clear();
  session.Await("L:1000");
  port.Deliver("$");  // each of the three terminators completes
  session.Await("M0000");
  port.Deliver("ok.");
  EXPECT_EQ(routed, (std::vector<std::string>{"L|$", "M|ok."}));
}

TEST_F(SessionTest, LineEndsAndInnerTerminatorsNeverCompleteAReply) {
  session.Await("RRE9");
  port.Deliver("3F\r\n");
  port.Deliver("a>b");
  EXPECT_TRUE(routed.empty());
  EXPECT_EQ(session.RxBuffer, "3F\r\na>b");
  port.Deliver(">");
  ASSERT_EQ(routed.size(), 1u);
  EXPECT_EQ(routed[0], "R|3F\r\na>b>");
}

TEST_F(SessionTest, WithoutAPendingCommandTextOnlyAccumulates) {
  port.Deliver("Boot:1.0  >");
  port.Deliver(">");
  EXPECT_TRUE(routed.empty());
  EXPECT_EQ(session.RxBuffer, "Boot:1.0  >>");
}

TEST_F(SessionTest, ReceiveCountShowsReplyLengthAndRestartsAfterEachReply) {
  session.Await("RR80");
  port.Deliver("ab");
  port.Deliver("c>");
  port.Deliver("d>");
  EXPECT_EQ(ui.receivePanelHistory,
            (std::vector<std::string>{"Receiving ... 1 byte.", "Receiving ... 2 byte.",
                                      "Receiving ... 3 byte.", "Receiving ... 4 byte.",
                                      "Receiving ... 1 byte.", "Receiving ... 2 byte."}));
  session.ShowReceiveCount(false);
  port.Deliver("x");
  EXPECT_EQ(ui.receivePanelHistory.back(), "");
}

TEST_F(SessionTest, NulInAnUnfinishedReplyRepeatsThePendingCommand) {
  session.Await("CR0010");
  port.Deliver(std::string("12\0" "3", 4));
  EXPECT_TRUE(session.RxBuffer.empty());
  ASSERT_EQ(port.writes.size(), 1u);
  EXPECT_EQ(port.writes[0], "CR0010");
  EXPECT_TRUE(routed.empty());

  // Ending in a terminator, the same NUL goes to the handler as it is.
  port.Deliver(std::string("1\0" ">", 3));
  ASSERT_EQ(routed.size(), 1u);
  EXPECT_EQ(routed[0], std::string("CR|1\0>", 6));
  EXPECT_EQ(port.writes.size(), 1u);
}

TEST_F(SessionTest, NulRepeatSendsWhatASequenceRegisteredForItsKeyOnly) {
  session.RegisterRepeat("L", [] { return std::string(":0300300002337A1E"); });
  session.Await("L");
  port.Deliver(std::string("\0", 1));
  session.Await("M0000");  // other commands still repeat themselves
  port.Deliver(std::string("\0", 1));
  EXPECT_EQ(port.writes, (std::vector<std::string>{":0300300002337A1E", "M0000"}));
}

TEST_F(SessionTest, RoutesByFirstLetterAndByTwoLettersForC) {
  const std::pair<const char*, const char*> cases[] = {
      {"CR0000", "CR"}, {"CW807E50", "CW"}, {"F00", "F"}, {"IR00", "I"},
      {"L:0300", "L"},  {"M8000", "M"},     {"RRE9", "R"}, {"XR0000", "X"}};
  for (auto [command, key] : cases) {
    routed.clear();
    session.Await(command);
    port.Deliver(">");
    ASSERT_EQ(routed.size(), 1u) << command;
    EXPECT_EQ(routed[0], std::string(key) + "|>");
  }
  routed.clear();
  for (const char* command : {"CX0000", "E", "Z", "C"}) {
    session.Await(command);
    port.Deliver(">");
  }
  EXPECT_TRUE(routed.empty());
  EXPECT_TRUE(session.RxBuffer.empty());  // discarded, not kept
}

TEST_F(SessionTest, StopRequestEndsAnUploadAtItsNextReply) {
  bool hookRan = false;
  session.AddStopHook([&] { hookRan = true; });
  ui.toolBarsEnabled = false;
  session.BeginUploadAll();
  session.Await("RR85");
  session.RequestStop();
  port.Deliver("3F\r\n>");
  EXPECT_TRUE(routed.empty());
  EXPECT_TRUE(session.LastCommand.empty());
  EXPECT_FALSE(session.StopRequested);
  EXPECT_FALSE(session.UploadAllActive);
  EXPECT_TRUE(ui.toolBarsEnabled);
  EXPECT_EQ(ui.refreshAllCount, 1);
  EXPECT_TRUE(hookRan);
  EXPECT_TRUE(port.writes.empty());
}

TEST_F(SessionTest, StopRequestDuringALineDownloadReachesTheLineHandler) {
  session.BeginProgramming();
  session.RequestStop();
  session.Await("L:10000000");
  port.Deliver(".");
  ASSERT_EQ(routed.size(), 1u);
  EXPECT_EQ(routed[0], "L|.");
  EXPECT_TRUE(session.StopRequested);  // the line handler reports and clears it

  // Not programming: even an "L" command ends on the stop branch.
  routed.clear();
  session.EndProgramming();
  port.Deliver(".");
  EXPECT_TRUE(routed.empty());
  EXPECT_FALSE(session.StopRequested);
}

TEST_F(SessionTest, PortErrorInTheReceivePathIsShownAndReceivingGoesOn) {
  session.Await("CR0000");
  port.Deliver("00 11");
  port.failRead = true;
  port.Deliver(">");
  ASSERT_EQ(ui.boxes.size(), 1u);
  EXPECT_EQ(ui.boxes[0].text, "Read error (Error: 5) ");
  ASSERT_TRUE(session.LastOutcome());  // the engine's edge: the exception became an outcome
  EXPECT_EQ(session.LastOutcome()->kind, OutcomeKind::PortFailed);
  EXPECT_TRUE(routed.empty());
  EXPECT_EQ(session.RxBuffer, "00 11");  // nothing half-appended

  port.failRead = false;
  port.Deliver("");  // the waiting ">" is read by the next event
  ASSERT_EQ(routed.size(), 1u);
  EXPECT_EQ(routed[0], "CR|00 11>");
}

TEST_F(SessionTest, HandlerErrorIsShownAndTheGuiStillGetsItsTurn) {
  session.RegisterHandler("R", [](const std::string&) { throw ECommError("Write error", 32); });
  session.Await("RR80");
  const int before = ui.processEventsCount;
  port.Deliver("00>");
  ASSERT_EQ(ui.boxes.size(), 1u);
  EXPECT_EQ(ui.boxes[0].text, "Write error (Error: 32) ");
  EXPECT_EQ(ui.processEventsCount, before + 1);
}

TEST_F(SessionTest, ReadsNoMoreThanTheReadBufferHolds) {
  session.Await("CR0000");
  port.incoming = std::string(5000, '0') + ">";
  port.OnRxChar(port, 5001);
  EXPECT_EQ(session.RxBuffer.size(), 4096u);
  port.OnRxChar(port, static_cast<int>(port.incoming.size()));
  ASSERT_EQ(routed.size(), 1u);
  EXPECT_EQ(routed[0].size(), 3u + 5001u);
}

}  // namespace
}  // namespace varnel

namespace varnel {
namespace {

// A target that talks without end: the buffer keeps only the latest bytes,
// with a command pending and without one, and a reply after the babble is
// still dispatched whole.
TEST(SessionBabble, TheReceiveBufferStaysBoundedAndRepliesStillArrive) {
  Session session;
  testing::ScriptedPort port;
  session.AttachPort(&port);
  session.NotePortOpened();
  std::vector<std::string> replies;
  session.RegisterHandler("CR", [&](const std::string& reply) { replies.push_back(reply); });
  const std::string chunk = "0123456789ABCDE ";
  for (bool pending : {true, false}) {
    if (pending) session.Await("CR0000");
    std::size_t largest = 0;
    for (int i = 0; i < 4 * 65536; ++i) {  // 4 MB in 16-byte chunks
      port.Deliver(chunk);
      largest = std::max(largest, session.RxBuffer.capacity());
    }
    EXPECT_LE(session.RxBuffer.size(), Session::kMaxRxBuffer);
    EXPECT_LE(largest, 4 * Session::kMaxRxBuffer);
    EXPECT_EQ(session.RxBuffer.substr(session.RxBuffer.size() - 16), chunk);
    session.EndSequence();
    session.ClearRx();
  }
  session.Await("CR0000");
  port.Deliver("00 11>");
  ASSERT_EQ(replies.size(), 1u);
  EXPECT_EQ(replies[0], "00 11>");
}

}  // namespace
}  // namespace varnel

namespace varnel {
namespace {

// What the window offers follows the session's state, and a new screen
// starts from it.
TEST_F(SessionTest, ToolbarsAndTargetButtonsAreDerivedFromTheState) {
  EXPECT_TRUE(ui.toolBarsEnabled);
  EXPECT_FALSE(ui.targetButtonsEnabled);
  session.SendCommand("CR0000");  // an upload's read is pending
  EXPECT_FALSE(ui.toolBarsEnabled);
  session.EndSequence();
  EXPECT_TRUE(ui.toolBarsEnabled);
  session.SendCommand("M0000");  // a programming run leaves them enabled
  EXPECT_TRUE(ui.toolBarsEnabled);
  session.AbandonPending();

  session.BeginUploadAll();  // between two memories of the run, too
  EXPECT_FALSE(ui.toolBarsEnabled);
  session.SendCommand("XR0000");
  session.EndSequence();
  EXPECT_FALSE(ui.toolBarsEnabled);
  session.EndUploadAll();
  EXPECT_TRUE(ui.toolBarsEnabled);

  session.OfferTarget();
  EXPECT_TRUE(ui.targetButtonsEnabled);
  session.SendCommand("IR00");
  RecordingUi second;
  second.targetButtonsEnabled = false;
  session.AttachUi(&second);
  EXPECT_TRUE(second.targetButtonsEnabled);
  EXPECT_FALSE(second.toolBarsEnabled);
  session.WithdrawTarget();
  EXPECT_FALSE(second.targetButtonsEnabled);
  EXPECT_TRUE(ui.targetButtonsEnabled);  // the first screen hears no more
}

// A run ends with one outcome: a stopped run that has not said how it
// ended ends Interrupted; one that has (a programming run at the stop
// request) is not reported twice. Listeners hear what the screen hears.
TEST_F(SessionTest, AStoppedRunEndsWithOneOutcome) {
  std::vector<Outcome> heard;
  session.AddOutcomeListener([&](const Outcome& o) { heard.push_back(o); });
  session.BeginRun();
  session.SendCommand("CR0000");
  session.RequestStop();
  port.Deliver("CR0000 00\r\n>");
  ASSERT_EQ(heard.size(), 1u);
  EXPECT_EQ(heard[0].kind, OutcomeKind::Interrupted);
  EXPECT_FALSE(session.RunOpen());
  EXPECT_EQ(ui.outcomes.size(), 1u);
  EXPECT_TRUE(ui.boxes.empty());  // no text: no box

  session.BeginRun();
  session.SendCommand("M0000");
  session.Report({OutcomeKind::Interrupted, "said so"});
  session.RequestStop();
  port.Deliver("ok\r\n>");
  EXPECT_EQ(heard.size(), 2u);
  EXPECT_EQ(session.LastOutcome()->text, "said so");
}

}  // namespace
}  // namespace varnel
