// Line settings of the serial port as they reach a pseudo-terminal's line,
// what the component refuses, and how received bytes are filtered.
#include <gtest/gtest.h>

#include "LineReadback.h"
#include "link/CommInt.h"
#include "link/CommRxFilter.h"
#include "support/CommErrorText.h"
#include "support/EventLoop.h"
#include "support/PtyComm.h"

namespace varnel {
namespace {

using testing::LineFlags;
using testing::LineReadback;
using testing::Pty;
using testing::ReadLine;

using testing::ErrorText;

class CommLineTest : public ::testing::Test, protected testing::PtyComm {
 protected:
  void SetUp() override { testing::EnsureApplication(); }
  LineReadback Line() const { return ReadLine(pty.Slave()); }
};

TEST_F(CommLineTest, EveryRateReachesTheLineTheUnusualOnesByNumber) {
  comm.Open();
  for (int r = br110; r <= br256000; ++r) {
    const auto rate = static_cast<TBaudrate>(r);
    comm.SetBaudRate(rate);
    const LineReadback line = Line();
    ASSERT_TRUE(line.ok);
    EXPECT_EQ(line.ospeed, static_cast<unsigned>(BaudRateValue(rate))) << r;
    EXPECT_EQ(line.ispeed, static_cast<unsigned>(BaudRateValue(rate))) << r;
    const bool unusual = rate == br14400 || rate == br56000 || rate == br128000 ||
                         rate == br256000;
    EXPECT_EQ((line.cflag & LineFlags::kCbaud) == LineFlags::kBother, unusual) << r;
  }
  EXPECT_EQ(comm.BaudRate(), br256000);
}

TEST_F(CommLineTest, AFrameTheLineDoesNotTakeIsRefusedNotPretended) {
  // A pseudo-terminal carries eight data bits without parity only; the
  // component reads the line back and refuses what did not stick.
  const std::string refused = "Error updating DataControlBlock (Error: -1) ";
  comm.Open();
  const unsigned before = Line().cflag;
  for (TParity parity : {paOdd, paEven, paMark, paSpace}) {
    EXPECT_EQ(ErrorText([&] { comm.SetParity(parity); }), refused) << parity;
    EXPECT_EQ(comm.Parity(), paNone);
  }
  EXPECT_EQ(ErrorText([&] { comm.SetDatabits(da7); }), refused);
  EXPECT_EQ(comm.Databits(), da8);
  EXPECT_EQ(Line().cflag, before);

  comm.SetStopbits(sb20);
  EXPECT_NE(Line().cflag & LineFlags::kCstopb, 0u);
  EXPECT_EQ(Line().cflag & LineFlags::kCsize, LineFlags::kCs8);
  comm.SetStopbits(sb10);
  EXPECT_EQ(Line().cflag & LineFlags::kCstopb, 0u);
}

TEST_F(CommLineTest, FlowControlAndParityCheckFlags) {
  comm.Open();
  comm.SetFlowControl(fcCTS);
  EXPECT_NE(Line().cflag & LineFlags::kCrtscts, 0u);
  comm.SetFlowControl(fcDefault);  // the line keeps what it has
  EXPECT_NE(Line().cflag & LineFlags::kCrtscts, 0u);

  comm.SetEventChars({0x11, 0x13, 0, 0, 0});
  comm.SetFlowControl(fcSoftware);
  LineReadback line = Line();
  EXPECT_EQ(line.cflag & LineFlags::kCrtscts, 0u);
  EXPECT_EQ(line.iflag & (LineFlags::kIxon | LineFlags::kIxoff),
            LineFlags::kIxon | LineFlags::kIxoff);
  comm.SetEventChars({0x01, 0x02, 0, 0, 0});
  line = Line();
  EXPECT_EQ(line.vstart, 0x01);
  EXPECT_EQ(line.vstop, 0x02);

  comm.SetFlowControl(fcNone);
  line = Line();
  EXPECT_EQ(line.cflag & LineFlags::kCrtscts, 0u);
  EXPECT_EQ(line.iflag & (LineFlags::kIxon | LineFlags::kIxoff), 0u);

  comm.SetOptions({coParityCheck, coNullStrip});
  EXPECT_EQ(Line().iflag & (LineFlags::kInpck | LineFlags::kParmrk),
            LineFlags::kInpck | LineFlags::kParmrk);
  comm.SetOptions({coNullStrip});
  EXPECT_EQ(Line().iflag & (LineFlags::kInpck | LineFlags::kParmrk), 0u);
}

TEST_F(CommLineTest, WhatTheLineCannotDoIsRefusedAndTheOldValueKept) {
  const std::string refused = "Error updating DataControlBlock (Error: -1) ";
  comm.Open();
  const unsigned before = Line().cflag;

  EXPECT_EQ(ErrorText([&] { comm.SetDatabits(da4); }), refused);
  EXPECT_EQ(comm.Databits(), da8);
  EXPECT_EQ(ErrorText([&] { comm.SetStopbits(sb15); }), refused);  // needs five data bits
  EXPECT_EQ(comm.Stopbits(), sb10);
  EXPECT_EQ(ErrorText([&] { comm.SetFlowControl(fcDTR); }), refused);
  EXPECT_EQ(comm.FlowControl(), fcDefault);
  EXPECT_EQ(ErrorText([&] { comm.SetOptions({coDsrSensitivity, coNullStrip}); }), refused);
  EXPECT_EQ(comm.Options(), TCommOptions{});
  EXPECT_EQ(Line().cflag, before);
  EXPECT_TRUE(comm.IsOpen());
}

TEST_F(CommLineTest, ARefusedSettingStoredWhileClosedFailsTheOpenAndFreesThePort) {
  comm.SetDatabits(da4);  // only stored
  EXPECT_EQ(ErrorText([&] { comm.Open(); }), "Error updating DataControlBlock (Error: -1) ");
  EXPECT_FALSE(comm.IsOpen());
  TComm other;
  other.SetDeviceName(pty.Path());
  other.Open();  // neither locked nor held
  EXPECT_TRUE(other.IsOpen());
  other.Close();

  comm.SetDatabits(da5);  // two stop bits with five data bits would be 1.5
  comm.SetStopbits(sb20);
  EXPECT_EQ(ErrorText([&] { comm.Open(); }), "Error updating DataControlBlock (Error: -1) ");
}

TEST(CommRxFilter, NulStripEventCharAndErrorMarksSplitAcrossReads) {
  CommRxFilter filter;
  filter.stripNul = true;
  filter.evtChar = '>';
  std::string carry, out;
  EXPECT_FALSE(filter.Apply(std::string("1\0" "2", 3), carry, out).evtCharSeen);
  EXPECT_TRUE(filter.Apply(">", carry, out).evtCharSeen);
  EXPECT_EQ(out, "12>");

  // Marks: FF FF is FF, FF 00 x is x received with an error; a read may end
  // anywhere inside a mark.
  filter = CommRxFilter{};
  filter.errorMarks = true;
  out.clear();
  const std::string marked("A\xFF\xFF" "B\xFF\x00" "C\xFF", 8);
  int errors = 0;
  for (char c : marked) errors += filter.Apply(std::string_view(&c, 1), carry, out).errorBytes;
  EXPECT_EQ(out, "A\xFF" "BC");
  EXPECT_EQ(carry, "\xFF");
  errors += filter.Apply("\xFF", carry, out).errorBytes;
  EXPECT_EQ(out, "A\xFF" "BC\xFF");
  EXPECT_EQ(errors, 1);
  EXPECT_TRUE(carry.empty());

  // With replacement the bad byte becomes ErrorChar; with stripping a NUL
  // received with an error is dropped like any NUL.
  filter.replaceErrors = true;
  filter.errorChar = '?';
  out.clear();
  filter.Apply(std::string("\xFF\x00" "Z\xFF\x00", 5), carry, out);
  filter.Apply(std::string("\x00", 1), carry, out);
  EXPECT_EQ(out, "??");
  filter.errorChar = '\0';
  filter.stripNul = true;
  out.clear();
  filter.Apply(std::string("x\xFF\x00" "Zy", 5), carry, out);
  EXPECT_EQ(out, "xy");
}

}  // namespace
}  // namespace varnel
