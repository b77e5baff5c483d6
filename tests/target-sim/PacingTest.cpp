// The paced line: 10 bit times a byte in each direction, so an exchange
// never comes back sooner than its bytes need on the wire. Only lower
// bounds are checked; how much longer a run takes is the benchmarks' affair.
#include <gtest/gtest.h>

#include <string>

#include "HostLine.h"

namespace varnel::sim::test {
namespace {

using Clock = std::chrono::steady_clock;

// Line time of count bytes at 9600 baud, less a microsecond for the
// nanosecond rounding of the simulator's byte times.
Clock::duration LineTime(std::size_t count) {
  return std::chrono::nanoseconds(static_cast<long long>(count) * 10'000'000'000LL / 9600) - 1us;
}

struct Timed {
  std::string reply;
  Clock::duration took;
};

Timed TimedExchange(HostLine& host, const std::string& command) {
  const auto start = Clock::now();
  std::string reply = host.Exchange(command);
  return {reply, Clock::now() - start};
}

class Paced : public ::testing::Test {
 protected:
  static TargetSimConfig Config(bool echo) {
    TargetSimConfig config;
    config.paced = true;
    config.echo = echo;
    return config;
  }
  // The banner's version holds a ".", and a paced banner comes in pieces
  // that may end there: wait for the prompt.
  static void Wake(HostLine& host) {
    host.Send("\r");
    ASSERT_NE(host.ReadUntil("\r\n>").find("Ver:"), std::string::npos);
  }
};

TEST_F(Paced, CommandAndReplyTakeTheirBothWaysLineTime) {
  TargetSim sim(Config(false));
  sim.Load(Memory::Code, 0, std::vector<std::uint8_t>{0x12, 0x34});
  HostLine host(sim.SlavePath());
  Wake(host);

  // A block read: 6 bytes in, 52 out.
  const Timed read = TimedExchange(host, "CR0000");
  ASSERT_EQ(read.reply.substr(0, 7), "\r\n12 34");
  ASSERT_EQ(read.reply.size(), 52u);
  EXPECT_GE(read.took, LineTime(6 + 52));

  // A programming line is nearly all command: 44 bytes in, "." out.
  const std::string record = "L:10010000000102030405060708090A0B0C0D0E0F77";
  const Timed line = TimedExchange(host, record);
  ASSERT_EQ(line.reply, ".");
  EXPECT_GE(line.took, LineTime(record.size() + 1));
  const Timed end = TimedExchange(host, ":00000001FF");
  ASSERT_EQ(end.reply, "T\r\n>");
  EXPECT_GE(end.took, LineTime(11 + 4));
  EXPECT_EQ(sim.Read(Memory::Code)[0x010F], 0x0F);
}

TEST_F(Paced, CommandsSentAheadAreReceivedWhileTheReplyGoesOut) {
  TargetSim sim(Config(false));
  HostLine host(sim.SlavePath());
  Wake(host);
  // Both commands go out at once. The second comes in while the first reply
  // is on the wire, so the pair needs 4 bytes in, then 5 + 5 bytes out.
  const auto start = Clock::now();
  host.Send("RRE9RRE9");
  const std::string replies = host.ReadUntil("03\r\n>03\r\n>");
  const auto took = Clock::now() - start;
  ASSERT_EQ(replies, "03\r\n>03\r\n>");
  EXPECT_GE(took, LineTime(4 + 5 + 5));
  EXPECT_EQ(sim.Transcript().size(), 3u);
}

TEST_F(Paced, EchoesFollowEachByteAndTheReplyFollowsTheLastEcho) {
  TargetSim sim(Config(true));
  HostLine host(sim.SlavePath());
  Wake(host);
  // The echo of each byte leaves once the byte is in: the 6 echoes and the
  // 49-byte reply all follow the first byte's arrival.
  const Timed read = TimedExchange(host, "IR00");
  ASSERT_EQ(read.reply, "IR00 \r\n00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00\r\n>");
  EXPECT_GE(read.took, LineTime(1 + read.reply.size()));
}

TEST_F(Paced, SwitchedOffMidwayTheRestArrivesAtOnce) {
  TargetSim sim(Config(false));
  HostLine host(sim.SlavePath());
  Wake(host);
  // A long line is still coming in when pacing goes off; nothing is lost.
  host.Send("L:10000000000102030405060708090A0B0C0D0E0F78");
  sim.Modify([](TargetSimConfig& c) { c.paced = false; });
  EXPECT_EQ(host.ReadReply(), ".");
  EXPECT_EQ(host.Exchange(":00000001FF"), "T\r\n>");
  EXPECT_EQ(sim.Read(Memory::Code)[0x0F], 0x0F);
  EXPECT_EQ(host.Exchange("RRE9"), "03\r\n>");
}

}  // namespace
}  // namespace varnel::sim::test
