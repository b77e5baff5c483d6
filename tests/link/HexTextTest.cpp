#include "link/HexText.h"

#include <gtest/gtest.h>

#include "link/Commands.h"

namespace varnel {

TEST(HexText, FieldsAreFixedWidthUpperCaseAndKeepOnlyTheirLowBits) {
  EXPECT_EQ(HDPrev(0), "00");
  EXPECT_EQ(HDPrev(255), "FF");
  EXPECT_EQ(HDPrev(256), "00");
  EXPECT_EQ(HDPrev(0xA5), "A5");
  EXPECT_EQ(HDPrev(-1), "FF");
  EXPECT_EQ(HD16Prev(0), "0000");
  EXPECT_EQ(HD16Prev(0x807E), "807E");
  EXPECT_EQ(HD16Prev(0x12345), "2345");
  EXPECT_EQ(HD16Prev(0x10000), "0000");
}

TEST(HexText, DecPrevFollowsTheLoaderArithmeticForEveryCharacter) {
  EXPECT_EQ(DecPrev(""), 0);
  EXPECT_EQ(DecPrev("FF"), 255);
  EXPECT_EQ(DecPrev("0000"), 0);
  EXPECT_EQ(DecPrev("807E"), 32894);
  EXPECT_EQ(DecPrev("ff"), 47 * 16 + 47);  // lower case is not hex to the loader
  EXPECT_EQ(DecPrev("a"), 42);
  EXPECT_EQ(DecPrev(":"), 3);
  EXPECT_EQ(DecPrev(" "), 233);
  EXPECT_EQ(DecPrev("G"), 16);
  EXPECT_EQ(DecPrev("9"), 9);
  EXPECT_EQ(DecPrev("@"), (64 - 48 - 7) & 0xFF);  // between '9' and 'A'
  EXPECT_EQ(DecPrev(std::string(1, '\0')), (0 - 48 - 7) & 0xFF);
  // Eight F's fill 32 bits; a ninth wraps instead of overflowing.
  EXPECT_EQ(DecPrev("FFFFFFFF"), -1);
  EXPECT_EQ(DecPrev("100000000"), 0);
  EXPECT_GT(DecPrev("zz"), 255);  // two non-digits can exceed a byte
}

TEST(HexText, SeparateCharDropsOnlyLineEndsBlanksAndPrompts) {
  EXPECT_EQ(SeparateChar("3F\r\n>"), "3F");
  EXPECT_EQ(SeparateChar("ok\r\n>"), "ok");
  EXPECT_EQ(SeparateChar("RRE9 3F\r\n>"), "RRE93F");
  EXPECT_EQ(SeparateChar(" > \r\n"), "");
  EXPECT_EQ(SeparateChar("a\tb.$"), "a\tb.$");
  EXPECT_EQ(SeparateChar(std::string("0\0 1", 4)), std::string("0\0" "1", 3));
}

TEST(Commands, SpellEveryFieldAtItsWidth) {
  EXPECT_EQ(cmd::ReadCode(0x0A30), "CR0A30");
  EXPECT_EQ(cmd::ReadCode(0x18000), "CR8000");
  EXPECT_EQ(cmd::ReadExtRam(0x7F0), "XR07F0");
  EXPECT_EQ(cmd::ReadIram(0x5), "IR05");
  EXPECT_EQ(cmd::ReadSfr(0xE9), "RRE9");
  EXPECT_EQ(cmd::WriteSfr(0xEF, 0xA5), "RWEFA5");
  EXPECT_EQ(cmd::ReadConfig(0x70), "F70");
  EXPECT_EQ(cmd::WriteConfig(0x807E, 0x50), "CW807E50");
  EXPECT_EQ(cmd::Line(":00000001FF"), "L:00000001FF");
  EXPECT_EQ(std::string(cmd::kEraseFlash), "M0000");
  EXPECT_EQ(std::string(cmd::kEraseConfig), "M8000");
  EXPECT_EQ(std::string(cmd::kWake), "\r");
}

TEST(Commands, AddressFieldsReadBackFromThePendingCommand) {
  EXPECT_EQ(cmd::AddressField("CR0A30"), 0x0A30);
  EXPECT_EQ(cmd::AddressField("XR07F0"), 0x07F0);
  EXPECT_EQ(cmd::AddressField("CW807F7F"), 0x807F);
  EXPECT_EQ(cmd::AddressField("IRF0"), 0xF0);
  EXPECT_EQ(cmd::AddressField("RRE9"), 0xE9);
  EXPECT_EQ(cmd::AddressField("F70"), 0x70);
  EXPECT_EQ(cmd::AddressField("M8000"), 0x8000);
  EXPECT_EQ(cmd::AddressField("CR0A"), -1);  // too short to hold the field
  EXPECT_EQ(cmd::AddressField("L:1000"), -1);
  EXPECT_EQ(cmd::AddressField(""), -1);
  EXPECT_EQ(cmd::EchoLength("CR0000"), 6u);
  EXPECT_EQ(cmd::EchoLength("XR0000"), 6u);
  EXPECT_EQ(cmd::EchoLength("IR00"), 4u);
  EXPECT_EQ(cmd::EchoLength("F00"), 4u);
  EXPECT_EQ(cmd::EchoLength("RR80"), 0u);
}

}  // namespace varnel

#include "link/PortNames.h"

namespace varnel {

TEST(PortNames, ComNamesMapToDevicesAndPathsPassThrough) {
  SetComMapping({});
  EXPECT_EQ(ResolvePortDevice("COM1"), "/dev/ttyS0");
  EXPECT_EQ(ResolvePortDevice("Com2"), "/dev/ttyS1");
  EXPECT_EQ(ResolvePortDevice("/dev/ttyUSB0"), "/dev/ttyUSB0");
  EXPECT_EQ(ResolvePortDevice("None"), "");
  EXPECT_EQ(ResolvePortDevice("COM"), "");
  EXPECT_EQ(ResolvePortDevice("COM0"), "");
  SetComMapping({{"COM3", "/dev/ttyUSB1"}});
  EXPECT_EQ(ResolvePortDevice("COM3"), "/dev/ttyUSB1");
  EXPECT_EQ(ResolvePortDevice("COM4"), "/dev/ttyS3");
  SetComMapping({});
}

}  // namespace varnel
