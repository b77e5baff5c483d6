#include "core/ResetSequence.h"

#include <gtest/gtest.h>

#include "link/CommInt.h"
#include "support/EventLoop.h"
#include "support/Pty.h"
#include "support/RecordingUi.h"
#include "support/ScriptedPort.h"

namespace varnel {
namespace {

using testing::RecordingUi;
using testing::ScriptedPort;

// What the port and the screen saw, in one order: line calls and waits.
std::vector<std::string> Steps(const std::string& text, ScriptedPort& port) {
  RecordingUi ui;
  ui.onSleep = [&port](int ms) { port.lines.push_back("wait " + std::to_string(ms)); };
  RunResetSequence(ParseResetSequence(text), port, ui);
  return port.lines;
}

const std::vector<std::string> kPulse = {"dtr=1",   "rts=1", "wait 40", "rts=0",
                                         "wait 40", "rts=1", "wait 400"};

TEST(ResetSequence, TheEmptyTextAndThePresetAreTheUsualPulse) {
  for (const char* text : {"", "  ", "pulse", "PULSE"}) {
    ScriptedPort port;
    EXPECT_EQ(Steps(text, port), kPulse) << '"' << text << '"';
  }
  ScriptedPort port;
  EXPECT_EQ(Steps("pulse-inverted", port),
            (std::vector<std::string>{"dtr=0", "rts=0", "wait 40", "rts=1", "wait 40", "rts=0",
                                      "wait 400"}));
}

TEST(ResetSequence, StepsRunInTheirOrderWithTheirWaits) {
  ScriptedPort port;
  EXPECT_EQ(Steps(" DTR=0 , rts=1,100 ,rts = 0,break=250,0,pulse", port),
            (std::vector<std::string>{"dtr=0", "rts=1", "wait 100", "rts=0", "break on",
                                      "wait 250", "break off", "wait 0", "dtr=1", "rts=1",
                                      "wait 40", "rts=0", "wait 40", "rts=1", "wait 400"}));
  // Written back in the form the parser reads.
  const auto steps = ParseResetSequence("dtr=0,rts=1,100,break=250,10000");
  EXPECT_EQ(ResetSequenceText(steps), "dtr=0,rts=1,100,break=250,10000");
  EXPECT_EQ(ParseResetSequence(ResetSequenceText(steps)), steps);
}

TEST(ResetSequence, AMalformedSequenceIsRefusedNamingItsStep) {
  const std::pair<const char*, const char*> cases[] = {
      {"dtr=1,rts=2", "Reset sequence step 2 \"rts=2\": rts takes 0 or 1"},
      {"dtr=1,,40", "Reset sequence step 2 \"\": empty step"},
      {"dtr=1,", "Reset sequence step 2 \"\": empty step"},
      {"dtr", "Reset sequence step 1 \"dtr\": not a step"},
      {"40,wait 40", "Reset sequence step 2 \"wait 40\": not a step"},
      {"pulses", "Reset sequence step 1 \"pulses\": not a step"},
      {"-5", "Reset sequence step 1 \"-5\": not a step"},
      {"10001", "Reset sequence step 1 \"10001\": a wait is 0 to 10000 ms"},
      {"99999999999", "Reset sequence step 1 \"99999999999\": a wait is 0 to 10000 ms"},
      {"break=0", "Reset sequence step 1 \"break=0\": a break lasts 1 to 10000 ms"},
      {"rts=1,BREAK=x", "Reset sequence step 2 \"BREAK=x\": a break lasts 1 to 10000 ms"},
      {"cts=1", "Reset sequence step 1 \"cts=1\": no line \"cts\": use dtr, rts or break"},
  };
  for (const auto& [text, message] : cases) {
    try {
      ParseResetSequence(text);
      ADD_FAILURE() << text << " was taken";
    } catch (const ResetSequenceError& e) {
      EXPECT_EQ(std::string(e.what()).rfind(message, 0), 0u) << e.what();
    }
  }
}

// The port fails halfway: the steps after it are not run, and a break in
// progress is released.
class FailingPort : public ScriptedPort {
 public:
  void SetRTS(bool on) override {
    ScriptedPort::SetRTS(on);
    throw ECommError("EscapeCommFunction failure", 5);
  }
};

TEST(ResetSequence, AFailingLineCallEndsTheSequenceWithoutLeavingABreak) {
  FailingPort port;
  EXPECT_THROW(Steps("dtr=1,rts=1,40,dtr=0", port), ECommError);
  EXPECT_EQ(port.lines, (std::vector<std::string>{"dtr=1", "rts=1"}));

  ScriptedPort breaking;
  RecordingUi ui;
  ui.onSleep = [](int) { throw ECommError("Write error", 5); };
  EXPECT_THROW(RunResetSequence(ParseResetSequence("break=100,dtr=1"), breaking, ui), ECommError);
  EXPECT_EQ(breaking.lines, (std::vector<std::string>{"break on", "break off"}));
  EXPECT_FALSE(breaking.inBreak);
}

// A pseudo-terminal takes breaks (and shows nothing of them) but has no
// modem lines: the serial port's own calls, end to end.
TEST(ResetSequence, OnAPtyBreaksRunAndModemLinesAreRefused) {
  testing::EnsureApplication();
  testing::Pty pty;
  TComm comm;
  comm.SetDeviceName(pty.Path());
  RecordingUi ui;
  const auto steps = ParseResetSequence("break=20,10,break=1");
  EXPECT_THROW(RunResetSequence(steps, comm, ui), ECommError);  // closed
  comm.Open();
  RunResetSequence(steps, comm, ui);
  EXPECT_EQ(ui.sleptMs, 31);
  // The line still carries bytes after the breaks.
  EXPECT_EQ(comm.Write("\r", 1), 1);
  EXPECT_EQ(pty.Receive(1), "\r");
  try {
    RunResetSequence(ParseResetSequence("pulse"), comm, ui);
    ADD_FAILURE() << "a pty took DTR";
  } catch (const ECommError& e) {
    EXPECT_STREQ(e.what(), "EscapeCommFunction failure (Error: 25) ");
  }
}

}  // namespace
}  // namespace varnel
