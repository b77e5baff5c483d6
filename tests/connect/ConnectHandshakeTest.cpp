#include "connect/ConnectHandshake.h"

#include <QLocale>
#include <gtest/gtest.h>

#include "connect/Identification.h"
#include "support/RecordingDisplay.h"
#include "support/RecordingUi.h"
#include "support/ScriptedPort.h"

namespace varnel {
namespace {

using testing::RecordingUi;
using testing::RecordingDisplay;
using testing::ScriptedPort;

class HandshakeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    session.AttachUi(&ui);
    session.AttachPort(&port);
    session.NotePortOpened();
    handshake.Prepare();
  }
  // What the port got since the last call.
  std::vector<std::string> Sent() {
    std::vector<std::string> out(port.writes.begin() + static_cast<long>(seen), port.writes.end());
    seen = port.writes.size();
    return out;
  }

  Session session;
  RecordingUi ui;
  ScriptedPort port;
  RecordingDisplay display;
  ConnectHandshake handshake{session, display};
  std::size_t seen = 0;
};

TEST_F(HandshakeTest, BannerPathIdentifiesAndEstimatesTheClock) {
  handshake.Start();
  EXPECT_FALSE(session.ShowRxProgress);
  EXPECT_EQ(Sent(), std::vector<std::string>{"\r"});
  EXPECT_EQ(display.timer, 500);

  port.Deliver("\r\nMSC1210 Ver:0.23 boot loader\r\n>");
  handshake.Tick();
  EXPECT_EQ(Sent(), (std::vector<std::string>{"RRE9", "E"}));
  EXPECT_EQ(session.FirmwareVersion, "0.23 boot");
  EXPECT_EQ(display.firmware, "0.23 boot");
  EXPECT_TRUE(session.TargetConnected);
  EXPECT_EQ(handshake.HandshakeCommand(), "E");
  EXPECT_EQ(display.timer, 100);

  port.Deliver("RRE9 03\r\n>E\r\n>");
  handshake.Tick();  // the echoed replies are thrown away
  EXPECT_EQ(Sent(), std::vector<std::string>{"RRE9"});

  port.Deliver("03\r\n>");
  handshake.Tick();
  EXPECT_EQ(session.TargetName, "MSC1210Y5");
  EXPECT_EQ(session.TargetIdCode, 3);
  EXPECT_EQ(display.target, "MSC1210Y5");
  EXPECT_EQ(display.software, "1.1");
  EXPECT_EQ(ui.caption, "Varnel - Target: MSC1210Y5");
  EXPECT_EQ(Sent(), std::vector<std::string>{"RRCA"});

  port.Deliver("DC\r\n>");
  handshake.Tick();
  EXPECT_EQ(Sent(), std::vector<std::string>{"RRCB"});
  port.Deliver("FF\r\n>");
  handshake.Tick();
  EXPECT_EQ(session.CoreClockHz, 11059200);
  EXPECT_EQ(display.core, "approx. 11.10MHz");
  EXPECT_EQ(session.Images.SFRImage.Read(0xCA), 0xDC);
  EXPECT_EQ(session.Images.SFRImage.Read(0xCB), 0xFF);
  EXPECT_EQ(session.Images.SFRImage.Read(0xE9), 0x03);
  EXPECT_EQ(Sent(), std::vector<std::string>{"RRE9"});
  EXPECT_FALSE(display.buttons);
  EXPECT_EQ(ui.sleptMs, 1500);
  EXPECT_TRUE(display.closed);

  handshake.Close();
  EXPECT_EQ(display.timer, -1);
  EXPECT_TRUE(ui.targetButtonsEnabled);
}

TEST_F(HandshakeTest, BarePromptSkipsTheEchoStep) {
  handshake.Start();
  Sent();
  port.Deliver("\r\n>");
  handshake.Tick();
  EXPECT_EQ(Sent(), std::vector<std::string>{"RRE9"});
  EXPECT_EQ(handshake.HandshakeCommand(), "RRE9");
  port.Deliver("07\r\n>");
  handshake.Tick();
  EXPECT_EQ(session.TargetName, "MSC1211Y5");
}

TEST_F(HandshakeTest, NoAnswerAfterThreeCarriageReturnsFails) {
  handshake.Start();
  handshake.Tick();
  handshake.Tick();
  EXPECT_TRUE(ui.boxes.empty());
  handshake.Tick();
  EXPECT_EQ(Sent(), (std::vector<std::string>{"\r", "\r", "\r"}));
  ASSERT_EQ(ui.boxes.size(), 1u);
  EXPECT_EQ(ui.boxes[0].text, "Failed to connect target! Try reset it!");
  EXPECT_EQ(display.timer, -1);
  EXPECT_FALSE(session.TargetConnected);

  handshake.Close();
  EXPECT_FALSE(ui.targetButtonsEnabled);  // nothing answered
}

TEST_F(HandshakeTest, TextWithoutAPromptStallsUntilRetry) {
  handshake.Start();
  port.Deliver("garbage");
  handshake.Tick();
  EXPECT_EQ(display.timer, -1);
  EXPECT_TRUE(ui.boxes.empty());
  handshake.Retry();
  EXPECT_EQ(display.timer, 500);
  EXPECT_EQ(handshake.RetriesLeft(), 3);
}

TEST_F(HandshakeTest, RetryWhileAwaitingTakesTheTextAsTheReply) {
  handshake.Start();
  port.Deliver(">");
  handshake.Tick();
  handshake.Retry();
  port.Deliver("04\r\n>");  // whatever came after the carriage return
  handshake.Tick();
  EXPECT_EQ(session.TargetName, "MSC1211Y2");
}

TEST_F(HandshakeTest, ShortBannerVersionAndMissingRegisterReply) {
  handshake.Start();
  port.Deliver("loader v:1.2\r\n>");
  handshake.Tick();
  EXPECT_EQ(session.FirmwareVersion, "1.2\r\n>");
  handshake.Tick();  // "E" step
  handshake.Tick();  // no reply at all: no register value, the target is rejected
  EXPECT_EQ(session.TargetName, "");
  EXPECT_FALSE(session.TargetConnected);
  EXPECT_TRUE(display.closed);
  ASSERT_EQ(ui.boxes.size(), 1u);
  EXPECT_EQ(ui.boxes[0].text, "Connecting error! Reset device and try connect again.");
}

TEST_F(HandshakeTest, RegisterRepliesWithEchoAndImplausibleClocks) {
  // Woken by hand with echo on: a bare prompt, so no "E" goes out.
  handshake.Start();
  port.Deliver(">");
  handshake.Tick();
  port.Deliver("RRE9 03\r\n>");
  handshake.Tick();
  EXPECT_EQ(session.TargetName, "MSC1210Y5");
  port.Deliver("RRCA DC\r\n>");
  handshake.Tick();
  port.Deliver("RRCB FF\r\n>");
  handshake.Tick();
  EXPECT_EQ(session.CoreClockHz, 11059200);
  EXPECT_TRUE(session.TargetConnected);
  EXPECT_TRUE(ui.boxes.empty());

  EXPECT_EQ(RegisterValue("?\r\n>", "RRE9"), std::nullopt);
  EXPECT_EQ(RegisterValue("RRE9\r\n>", "RRE9"), std::nullopt);
  EXPECT_EQ(RegisterValue("\r\n0A>", "RRCA"), 0x0A);
  EXPECT_FALSE(PlausibleClock(1150000000));
  EXPECT_FALSE(PlausibleClock(400000));
  EXPECT_TRUE(PlausibleClock(33000000));

  // A reload that gives 550 MHz: rejected before any flash timing uses it.
  handshake.Prepare();
  handshake.Start();
  port.Deliver(">");
  handshake.Tick();
  port.Deliver("03>");
  handshake.Tick();
  port.Deliver("00>");
  handshake.Tick();
  port.Deliver("F9>");
  handshake.Tick();
  EXPECT_FALSE(session.TargetConnected);
  ASSERT_EQ(ui.boxes.size(), 1u);
  EXPECT_EQ(ui.boxes[0].text, "Connecting error! Reset device and try connect again.");
}

TEST_F(HandshakeTest, DamagedRegisterRepliesAreReadAgain) {
  handshake.Start();
  port.Deliver(">");
  handshake.Tick();
  EXPECT_EQ(Sent(), (std::vector<std::string>{"\r", "RRE9"}));
  port.Deliver("RRE9 0G\r\n>");  // a digit turned into a letter
  handshake.Tick();
  EXPECT_EQ(Sent(), std::vector<std::string>{"RRE9"});
  EXPECT_EQ(session.TargetName, "");
  port.Deliver("RRE9 03\r\n>");
  handshake.Tick();
  EXPECT_EQ(session.TargetName, "MSC1210Y5");
  EXPECT_EQ(session.RepliesReadAgain, 1u);

  // Damaged every time: the handshake ends naming the register.
  for (int reply = 0; reply < ReadAgain::kTries; ++reply) {
    EXPECT_EQ(Sent(), std::vector<std::string>{"RRCA"});
    port.Deliver("RRCA DCC\r\n>");
    handshake.Tick();
  }
  EXPECT_TRUE(Sent().empty());
  EXPECT_FALSE(session.TargetConnected);
  EXPECT_TRUE(display.closed);
  ASSERT_EQ(ui.boxes.size(), 1u);
  EXPECT_EQ(ui.boxes[0].text,
            "The target's replies for SFR at CAh were damaged 3 times in a row (the last held 3 "
            "hex digits, not 2); nothing of them was stored.");
  ASSERT_EQ(ui.outcomes.size(), 1u);
  EXPECT_EQ(ui.outcomes[0].kind, OutcomeKind::DamagedReplies);
  EXPECT_EQ(session.Images.SFRImage.Read(0xCA), 0xFF);  // as it was: nothing stored
}

TEST_F(HandshakeTest, ResetPulseThroughTheModemLines) {
  session.ProjectSettings.ControlDTR = true;
  handshake.Prepare();
  EXPECT_TRUE(port.dtr);
  EXPECT_TRUE(port.rts);
  EXPECT_EQ(ui.sleptMs, 480);

  port.open = false;
  ui.sleptMs = 0;
  // The connect window shows what the reset returns.
  if (const auto trouble = handshake.Prepare()) ui.RunEnded(*trouble);
  ASSERT_EQ(ui.boxes.size(), 1u);
  EXPECT_EQ(ui.boxes[0].text, "Port not open, unable to complete operation (Error: -1) ");
  EXPECT_EQ(ui.sleptMs, 0);
}

TEST_F(HandshakeTest, TheBoardsOwnResetSequenceReplacesThePulse) {
  session.ProjectSettings.ControlDTR = true;
  ui.onSleep = [this](int ms) { port.lines.push_back("wait " + std::to_string(ms)); };
  handshake.Prepare();
  EXPECT_EQ(port.lines, (std::vector<std::string>{"dtr=1", "rts=1", "wait 40", "rts=0",
                                                  "wait 40", "rts=1", "wait 400"}));

  port.lines.clear();
  session.ProjectSettings.ResetSequence = "rts=0,break=100,dtr=0,250";
  handshake.Prepare();
  EXPECT_EQ(port.lines, (std::vector<std::string>{"rts=0", "break on", "wait 100", "break off",
                                                  "dtr=0", "wait 250"}));

  // One that cannot run (a hand-edited project) is named in the port's box;
  // nothing reaches the lines and the window still opens.
  port.lines.clear();
  session.ProjectSettings.ResetSequence = "dtr=1,rst=0";
  if (const auto trouble = handshake.Prepare()) ui.RunEnded(*trouble);
  EXPECT_TRUE(port.lines.empty());
  ASSERT_EQ(ui.boxes.size(), 1u);
  EXPECT_EQ(ui.boxes[0].text.rfind("Reset sequence step 2 \"rst=0\"", 0), 0u) << ui.boxes[0].text;
  handshake.Start();
  EXPECT_EQ(Sent(), (std::vector<std::string>{"\r"}));
}

TEST(Identification, NamesAndFlashDigits) {
  EXPECT_EQ(TargetNameFor(0x00), "MSC1210Y2");
  EXPECT_EQ(TargetNameFor(0x03), "MSC1210Y5");
  EXPECT_EQ(TargetNameFor(0x04), "MSC1211Y2");
  EXPECT_EQ(TargetNameFor(0x07), "MSC1211Y5");
  EXPECT_EQ(TargetNameFor(0x3F), "MSC1211Y5");
}

TEST(Identification, ClockEstimateAndItsText) {
  EXPECT_EQ(CoreClockEstimate(0xFFDC, 9600), 11059200);
  EXPECT_EQ(BaudFromText("9600"), 9600);
  EXPECT_EQ(BaudFromText("fast"), 0);
  // A reload of 0 at 38400 baud passes 2^31: the estimate wraps as 32 bits do.
  EXPECT_EQ(CoreClockEstimate(0, 38400), static_cast<std::int32_t>(65536ull * 38400 * 32));

  QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
  const NumberFormat us = LocaleNumberFormat();
  QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
  const NumberFormat de = LocaleNumberFormat();
  QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
  EXPECT_EQ(ClockText(11059200, us), "approx. 11.10MHz");
  EXPECT_EQ(ClockText(11059200, de), "approx. 11,10MHz");
  EXPECT_EQ(ClockText(7372800, us), "approx. 7.37MHz");
  EXPECT_EQ(ClockText(110592000, us), "approx. 111.00MHz");
  EXPECT_EQ(ClockText(1234567890, us), "approx. 1,230.00MHz");
  EXPECT_EQ(ClockText(0, us), "approx. 0.00MHz");
}

}  // namespace
}  // namespace varnel
