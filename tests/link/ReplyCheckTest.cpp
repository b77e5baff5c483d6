#include "link/ReplyCheck.h"

#include <gtest/gtest.h>

namespace varnel {
namespace {

// Sixteen blank-separated pairs 01h..10h, as the loader sends a block.
const std::string kData = "01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F 10";
const std::vector<std::uint8_t> kBytes = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};

TEST(ReplyCheck, GoodBlocksWithAndWithoutEcho) {
  for (const std::string command : {"CR0010", "XR07F0", "IR80"}) {
    for (const std::string& reply : {command + " \r\n" + kData + "\r\n>", "\r\n" + kData + "\r\n>",
                                    kData + ">"}) {
      const CheckedReply checked = CheckReply(command, reply);
      EXPECT_TRUE(checked.Good()) << command << ": " << checked.fault;
      EXPECT_EQ(checked.bytes, kBytes) << command;
      EXPECT_EQ(checked.digits, "0102030405060708090A0B0C0D0E0F10");
    }
  }
  // A configuration block: "F" is a hex digit too, so an erased page without
  // echo begins like one; the echo is told by its length.
  const std::string erased = "FF FF FF FF FF FF FF FF FF FF FF FF FF FF FF FE\r\n>";
  EXPECT_EQ(CheckReply("F00", erased).bytes.back(), 0xFE);
  EXPECT_EQ(CheckReply("F00", "F00 " + erased).bytes.front(), 0xFF);
  EXPECT_EQ(CheckReply("F70", "F70" + kData + ">").bytes, kBytes);  // no separator
  EXPECT_EQ(CheckReply("F70", "F70" + kData + ">").bytes.size(), 16u);
}

TEST(ReplyCheck, EachWayOfDamageIsCaughtAndNothingIsKept) {
  const std::string good = "CR0010 \r\n" + kData + "\r\n>";
  struct Case {
    std::string reply;
    std::string fault;
  } cases[] = {
      // a digit lost, a digit doubled
      {"CR0010 \r\n01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F 1\r\n>",
       "held 31 hex digits, not 32"},
      {"CR0010 \r\n01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F 110\r\n>",
       "held 33 hex digits, not 32"},
      // a digit turned into a letter that is no hex digit, or a lower-case one
      {"CR0010 \r\n01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F 1G\r\n>",
       "held \"G\" where only hex digits belong"},
      {"CR0010 \r\n01 02 03 04 05 06 07 08 09 0a 0B 0C 0D 0E 0F 10\r\n>",
       "held \"a\" where only hex digits belong"},
      // a digit turned into ">" at the end of what the port delivered first
      {"CR0010 \r\n01 02 03 04 05 0>", "held 11 hex digits, not 32"},
      // the rest of such a reply, taken as the reply to the next command
      {"6 07 08 09 0A 0B 0C 0D 0E 0F 10\r\n>", "held 21 hex digits, not 32"},
      // an echo of another address, or one cut short
      {"CR0020 \r\n" + kData + "\r\n>", "echoed CR0020, not CR0010"},
      {"CR00", "echoed CR00, not CR0010"},
      {"\r\n?>", "was \"?\": the loader did not take the command"},
      {"CR0010\r\n>", "held no data"},
      {std::string("CR0010 \r\n01 02\0 03", 18) + ">", "held \"\\x00\" where only hex digits belong"},
  };
  EXPECT_TRUE(CheckReply("CR0010", good).Good());
  for (const Case& c : cases) {
    const CheckedReply checked = CheckReply("CR0010", c.reply);
    EXPECT_EQ(checked.fault, c.fault) << c.reply;
    EXPECT_TRUE(checked.bytes.empty());
    EXPECT_TRUE(checked.digits.empty());
  }
  // A configuration block echoed with a digit lost or one too many.
  EXPECT_FALSE(CheckReply("F10", "F10 " + kData.substr(1) + ">").Good());
  EXPECT_FALSE(CheckReply("F10", "F10 0" + kData + ">").Good());
  EXPECT_EQ(CheckReply("F10", "F20 " + kData + ">").fault, "echoed F20, not F10");
}

TEST(ReplyCheck, RegistersAreExactlyTwoDigits) {
  EXPECT_EQ(CheckReply("RRE9", "RRE9 03\r\n>").bytes, std::vector<std::uint8_t>{0x03});
  EXPECT_EQ(CheckReply("RRE9", "3F\r\n>").bytes, std::vector<std::uint8_t>{0x3F});
  EXPECT_EQ(CheckReply("RRCA", "RRCA DC\r\n>").bytes, std::vector<std::uint8_t>{0xDC});
  EXPECT_EQ(CheckReply("RRE9", "0\r\n>").fault, "held 1 hex digit, not 2");
  EXPECT_EQ(CheckReply("RRE9", "033\r\n>").fault, "held 3 hex digits, not 2");
  EXPECT_EQ(CheckReply("RRE9", "RRCA 03\r\n>").fault, "echoed RRCA, not RRE9");
  EXPECT_EQ(CheckReply("RRE9", "RRE9 0\r\n>").fault, "held 1 hex digit, not 2");
  EXPECT_FALSE(CheckReply("RRE9", "RRE9\r\n>").Good());

  EXPECT_EQ(DataDigits("CR0000"), 32u);
  EXPECT_EQ(DataDigits("RR80"), 2u);
  EXPECT_FALSE(IsReadCommand("CW807EFF"));
  EXPECT_FALSE(IsReadCommand("M0000"));
  EXPECT_EQ(CheckReply("M0000", "ok>").fault, "answered M0000, which reads nothing");
}

}  // namespace
}  // namespace varnel
