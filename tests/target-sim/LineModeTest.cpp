// Programming lines: "L" + the first Intel HEX record, then bare records,
// ended by the end record; the EPMA lock and the record checks.
#include <gtest/gtest.h>

#include <vector>

#include "HostLine.h"

namespace varnel::sim::test {
namespace {

constexpr char kRecord0[] = ":10000000000102030405060708090A0B0C0D0E0F78";
constexpr char kRecord1[] = ":03001000AABBCCBC";
constexpr char kEnd[] = ":00000001FF";

class LineMode : public ::testing::Test {
 protected:
  LineMode() : host_(sim_.SlavePath()) { host_.WakeQuiet(); }
  TargetSim sim_;
  HostLine host_;
};

TEST_F(LineMode, RecordsWithoutLineEndsAreProgrammedUntilTheEndRecord) {
  EXPECT_EQ(host_.Exchange(std::string("L") + kRecord0), ".");
  EXPECT_TRUE(sim_.InLineMode());
  EXPECT_EQ(host_.Exchange(kRecord1), ".");
  EXPECT_EQ(host_.Exchange(kEnd), "T\r\n>");
  EXPECT_FALSE(sim_.InLineMode());

  const auto code = sim_.Read(Memory::Code);
  for (int i = 0; i < 16; ++i) EXPECT_EQ(code[i], i);
  EXPECT_EQ(code[0x10], 0xAA);
  EXPECT_EQ(code[0x12], 0xCC);
  EXPECT_EQ(code[0x13], 0xFF);
  EXPECT_EQ(sim_.Transcript().back(), kEnd);
  EXPECT_EQ(sim_.Transcript()[2], std::string("L") + kRecord0);
  EXPECT_EQ(host_.Exchange("RRE9"), "03\r\n>");  // back in command mode
}

TEST_F(LineMode, RecordsFollowedByLineEndsWorkToo) {
  EXPECT_EQ(host_.Exchange(std::string("L") + kRecord0 + "\r\n"), ".");
  EXPECT_EQ(host_.Exchange(std::string(kRecord1) + "\n"), ".");
  EXPECT_EQ(host_.Exchange(std::string(kEnd) + "\r\n"), "T\r\n>");
  EXPECT_EQ(host_.Drain(), "");  // the trailing line end wakes nothing
  EXPECT_EQ(sim_.Read(Memory::Code)[0x11], 0xBB);
}

TEST_F(LineMode, ChecksumAndShortRecordsAnswerE) {
  EXPECT_EQ(host_.Exchange("L:0300100001020317"), "E\r\n>");  // checksum should be E7
  EXPECT_FALSE(sim_.InLineMode());
  EXPECT_EQ(sim_.Read(Memory::Code)[0x10], 0xFF);
  EXPECT_EQ(host_.Exchange("L:03001000AABB\r"), "E\r\n>");  // line ended early
  EXPECT_EQ(host_.Exchange("L:0G"), "E\r\n>");  // unreadable length
  host_.Send("001000AABBCCBC\r");  // the rest of that line is thrown away
  EXPECT_EQ(host_.Drain(), "");
  EXPECT_EQ(host_.Exchange("RRE9"), "03\r\n>");
}

TEST_F(LineMode, OutsideTheFlashOrOntoUnerasedCellsAnswersX) {
  // Y5 has 32 KB: 8000h is beyond it.
  EXPECT_EQ(host_.Exchange("L:0180000000" "7F"), "X\r\n>");
  sim_.Load(Memory::Code, 0x10, std::vector<std::uint8_t>{0x00});
  EXPECT_EQ(host_.Exchange(std::string("L") + kRecord1), "X\r\n>");
  host_.Exchange("M0000");
  EXPECT_EQ(host_.Exchange(std::string("L") + kRecord1), ".");
}

TEST_F(LineMode, ExtendedAddressRecordsMoveTheBase) {
  // Segment 0100h: base 1000h.
  EXPECT_EQ(host_.Exchange("L:020000020100FB"), ".");
  EXPECT_EQ(host_.Exchange(kRecord1), ".");
  EXPECT_EQ(host_.Exchange(kEnd), "T\r\n>");
  EXPECT_EQ(sim_.Read(Memory::Code)[0x1010], 0xAA);
}

TEST_F(LineMode, EpmaClearRefusesWithAnEmptyReplyUntilThePageIsErased) {
  sim_.Load(Memory::Config, kHcr0, std::vector<std::uint8_t>{0x7F});
  EXPECT_EQ(host_.Exchange(std::string("L") + kRecord0), "\r\n>");
  EXPECT_FALSE(sim_.InLineMode());
  EXPECT_EQ(sim_.Read(Memory::Code)[1], 0xFF);
  EXPECT_EQ(host_.Exchange("RRE9"), "03\r\n>");  // the whole record was taken

  host_.Exchange("M8000");
  host_.Exchange("CW807F7F");  // EPMA clear again, but the page was erased since reset
  EXPECT_EQ(host_.Exchange(std::string("L") + kRecord0), ".");
  EXPECT_EQ(host_.Exchange(kEnd), "T\r\n>");

  sim_.Reset();
  host_.WakeQuiet();
  EXPECT_EQ(host_.Exchange(std::string("L") + kEnd), "\r\n>");
}

TEST_F(LineMode, EchoOnEchoesTheRecords) {
  sim_.Reset();
  host_.Wake();
  const std::string reply = host_.Exchange(std::string("L") + kRecord1);
  EXPECT_EQ(reply, std::string("L") + kRecord1 + " .");
}

}  // namespace
}  // namespace varnel::sim::test
