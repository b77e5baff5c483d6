// varnel-cli over a noisy line: the simulator damages read replies, and
// every byte the command line writes to a file is still the target's.
#include <algorithm>

#include "CliFixture.h"

namespace varnel::testing {
namespace {

using sim::Memory;

class CliDamageTest : public CliTest {
 protected:
  // A line that damages a share of the read replies, the handshake's too.
  void StartNoisyTarget(double rate, unsigned ways = sim::kDamageAll, int from = 1,
                        unsigned seed = 5) {
    sim::TargetSimConfig config;
    config.variant = 3;  // 8 KB of flash: enough blocks for the damage to hit
    config.damageRate = rate;
    config.damageWays = ways;
    config.damageFrom = from;
    config.damageSeed = seed;
    StartTarget(config);
    target->Load(Memory::Code, 0, RandomBytes(8192, 1));
    target->Load(Memory::ExtRam, 0, RandomBytes(2048, 2));
    target->Load(Memory::Iram, 0, RandomBytes(256, 3));
    target->Load(Memory::Config, 0, RandomBytes(128, 4));
  }
  // The target's bytes from offset first on.
  std::string Memory_(Memory memory, std::size_t first = 0) const {
    const auto cells = target->Read(memory);
    return {cells.begin() + static_cast<std::ptrdiff_t>(first), cells.end()};
  }
  // Commands sent twice or more in a row in a trace file: the reads again.
  std::size_t RepeatsInTrace(const std::string& trace) const {
    std::istringstream lines(ReadFile(trace));
    std::string previous;
    std::size_t repeats = 0;
    for (std::string line; std::getline(lines, line);) {
      const std::size_t mark = line.find(" > ");
      if (mark == std::string::npos) continue;
      const std::string sent = line.substr(mark + 3);
      repeats += sent == previous;
      previous = sent;
    }
    return repeats;
  }
};

TEST_F(CliDamageTest, ReadOfEveryMemoryGivesTheTargetsBytesAndSaysWhatWasReadAgain) {
  StartNoisyTarget(0.03);
  struct Case {
    const char* name;
    Memory memory;
    std::size_t first;
  };
  std::size_t readAgain = 0;
  for (const Case& c : {Case{"code", Memory::Code, 0}, Case{"xdata", Memory::ExtRam, 0},
                        Case{"iram", Memory::Iram, 0}, Case{"sfr", Memory::Sfr, 0x80},
                        Case{"cfg", Memory::Config, 0}}) {
    SCOPED_TRACE(c.name);
    const std::string file = std::string(c.name) + ".bin";
    const std::string trace = std::string(c.name) + ".trace";
    const CliResult r = Cli({"read", c.name, "-o", Path(file), "--trace", Path(trace)});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(ReadFile(file), Memory_(c.memory, c.first));
    // Every read again is on the line, and the count is said at the end.
    const std::size_t repeats = RepeatsInTrace(trace);
    const std::size_t said = r.err.find("damaged repl");
    if (repeats == 0) {
      EXPECT_EQ(said, std::string::npos) << r.err;
      continue;
    }
    readAgain += repeats;
    const std::string line = std::to_string(repeats) +
                             (repeats == 1 ? " damaged reply read again\n" : " damaged replies read again\n");
    EXPECT_TRUE(r.err.ends_with(line)) << r.err;
  }
  EXPECT_GT(readAgain, 10u);  // 3% of about 800 replies
}

TEST_F(CliDamageTest, ALineThatDamagesEveryReplyEndsWithStatus3AndNoFile) {
  // From the first command after the handshake on (wake-up, RRE9, E, RRE9,
  // RRCA, RRCB, RRE9).
  StartNoisyTarget(1.0, sim::kDamageAll, 8);
  CliResult r = Cli({"read", "code", "-o", Path("code.bin")});
  EXPECT_EQ(r.status, 3) << r.err;
  EXPECT_NE(r.err.find("varnel-cli: The target's replies for CODE at 0000h were damaged 3 times "
                       "in a row (the last "),
            std::string::npos)
      << r.err;
  EXPECT_NE(r.err.find("2 damaged replies read again"), std::string::npos) << r.err;
  EXPECT_FALSE(std::filesystem::exists(Path("code.bin")));
  EXPECT_EQ(CountSent("CR0000"), 3u);
  EXPECT_EQ(CountSent("CR0010"), 0u);

  // The handshake's register reads too: the connect ends naming the register.
  target->Modify([](sim::TargetSimConfig& c) { c.damageFrom = 1; });
  r = Cli({"info"});
  EXPECT_EQ(r.status, 3) << r.err;
  EXPECT_NE(r.err.find("The target's replies for SFR at E9h were damaged 3 times"), std::string::npos)
      << r.err;
  EXPECT_EQ(r.out, "");
}

TEST_F(CliDamageTest, ReadTwiceCatchesDigitsTurnedIntoOtherDigits) {
  // A digit turned into another digit looks like data: only a second read
  // tells. Without --twice such bytes land in the file.
  StartNoisyTarget(0.02, sim::kDamageDigit | sim::kDamageDrop, 1, 1);
  CliResult r = Cli({"read", "code", "-o", Path("once.bin")});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(ReadFile("once.bin"), Memory_(Memory::Code));

  target->ClearTranscript();
  r = Cli({"read", "code", "--twice", "-o", Path("twice.bin")});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(ReadFile("twice.bin"), Memory_(Memory::Code));
  EXPECT_NE(r.err.find("reading CODE 0000h-1FFFh again"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("a third time"), std::string::npos) << r.err;
  EXPECT_GE(CountSent("CR"), 2u * 512);

  // Every reply changed: no two reads of a block agree.
  const int handshake = static_cast<int>(target->CommandCount()) + 7;
  target->Modify([handshake](sim::TargetSimConfig& c) {
    c.damageRate = 1;
    c.damageWays = sim::kDamageDigit;
    c.damageFrom = handshake + 1;  // a changed identification would name another chip
  });
  r = Cli({"read", "iram", "--twice", "-o", Path("iram.bin")});
  EXPECT_EQ(r.status, 3) << r.err;
  EXPECT_NE(r.err.find("varnel-cli: no two of three reads of Int.RAM at 00h agree"),
            std::string::npos)
      << r.err;
  EXPECT_FALSE(std::filesystem::exists(Path("iram.bin")));

  r = Cli({"verify", "--twice", Path("x.hex")});
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find("--twice belongs to the read command"), std::string::npos) << r.err;
}

}  // namespace
}  // namespace varnel::testing
