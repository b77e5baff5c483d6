// Each fault option of the simulator, seen from the host's end of the line.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <vector>

#include "HostLine.h"

namespace varnel::sim::test {
namespace {

TargetSimConfig Quiet() {
  TargetSimConfig config;
  config.echo = false;
  return config;
}

TEST(TargetSimFaults, DataWithoutLeadingLineEndStartsWithTheFirstByte) {
  TargetSimConfig config = Quiet();
  config.leadingCrLf = false;
  TargetSim sim(config);
  sim.Load(Memory::Code, 0, std::vector<std::uint8_t>{0xC0, 0x01});
  HostLine host(sim.SlavePath());
  host.Wake();
  // Looks like an echo of "CR" to a host that tests the first letter.
  EXPECT_EQ(host.Exchange("CR0000").substr(0, 6), "C0 01 ");
  EXPECT_EQ(host.Exchange("F00").substr(0, 3), "FF ");
  EXPECT_EQ(host.Exchange("RRE9"), "03\r\n>");  // register replies never had one
}

TEST(TargetSimFaults, ReplyDelayAndPacingKeepTheBytes) {
  TargetSimConfig config = Quiet();
  config.replyDelayMs = 20;
  config.paced = true;
  TargetSim sim(config);
  HostLine host(sim.SlavePath(), B38400);
  host.Wake();
  EXPECT_EQ(host.Exchange("IR00"), "\r\n00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00\r\n>");
}

TEST(TargetSimFaults, RepliesInPiecesArriveWhole) {
  TargetSimConfig config = Quiet();
  config.chunkSize = 4;
  config.chunkGapMs = 60'000;  // the second piece never comes while the test looks
  {
    TargetSim sim(config);
    HostLine host(sim.SlavePath());
    host.Send("\r");
    EXPECT_EQ(host.Drain(), "\r\nMS");
  }  // stopping breaks the wait

  config.chunkGapMs = 1;
  TargetSim sim(config);
  HostLine host(sim.SlavePath());
  host.Send("\r");
  const std::string banner = host.ReadUntil("\r\n>");
  EXPECT_EQ(banner, "\r\nMSC1210 Boot Loader (simulated) Ver:SIM 1.0.0\r\n>");
}

TEST(TargetSimFaults, NulInOneReplyCutsItAndTheRepeatGetsAWholeOne) {
  TargetSimConfig config = Quiet();
  config.nulAtCommand = 2;
  config.nulOffset = 3;
  TargetSim sim(config);
  HostLine host(sim.SlavePath());
  host.Wake();  // command 1
  host.Send("RRE9");
  EXPECT_EQ(host.Drain(), std::string("03\r\0", 4));
  EXPECT_EQ(host.Exchange("RRE9"), "03\r\n>");

  sim.Modify([](TargetSimConfig& c) {
    c.nulAtCommand = 4;
    c.nulTruncates = false;
  });
  EXPECT_EQ(host.Exchange("RRE9"), std::string("03\r\0\n>", 6));
}

TEST(TargetSimFaults, SilentAfterNCommandsStillListens) {
  TargetSimConfig config = Quiet();
  config.silentAfter = 2;
  TargetSim sim(config);
  HostLine host(sim.SlavePath());
  host.Wake();
  EXPECT_EQ(host.Exchange("RRE9"), "03\r\n>");
  host.Send("M0000");
  EXPECT_EQ(host.Drain(), "");
  ASSERT_TRUE(sim.WaitForCommands(3, 1000ms));
  EXPECT_EQ(sim.Transcript().back(), "M0000");
  sim.Modify([](TargetSimConfig& c) { c.silentAfter = kNever; });
  EXPECT_EQ(host.Exchange("RRE9"), "03\r\n>");
}

TEST(TargetSimFaults, RefusedEraseAndConfigurationWrite) {
  TargetSimConfig config = Quiet();
  config.refuseErase = true;
  config.refuseConfigWrite = true;
  TargetSim sim(config);
  sim.Fill(Memory::Code, 0x00);
  HostLine host(sim.SlavePath());
  host.Wake();
  EXPECT_EQ(host.Exchange("M0000"), "x\r\n>");
  EXPECT_EQ(host.Exchange("M8000"), "x\r\n>");
  EXPECT_EQ(host.Exchange("CW807E00"), "x\r\n>");
  EXPECT_EQ(sim.Read(Memory::Code)[0], 0x00);
  EXPECT_EQ(sim.Read(Memory::Config)[0x7E], 0xFF);
  sim.Modify([](TargetSimConfig& c) { c.refuseErase = false; });
  EXPECT_EQ(host.Exchange("M0000"), "ok\r\n>");
}

TEST(TargetSimFaults, LineErrorAtLineK) {
  const std::string lines[] = {"L:03001000AABBCCBC", ":03002000AABBCCAC", ":03003000AABBCC9C"};
  const std::pair<LineError, std::string> cases[] = {
      {LineError::WriteError, "X\r\n>"}, {LineError::ChecksumError, "E\r\n>"}, {LineError::Empty, "\r\n>"}};
  for (const auto& [kind, reply] : cases) {
    TargetSimConfig config = Quiet();
    config.lineErrorAt = 2;
    config.lineError = kind;
    TargetSim sim(config);
    HostLine host(sim.SlavePath());
    host.Wake();
    EXPECT_EQ(host.Exchange(lines[0]), ".");
    EXPECT_EQ(host.Exchange(lines[1]), reply);
    EXPECT_FALSE(sim.InLineMode());
    EXPECT_EQ(sim.Read(Memory::Code)[0x20], 0xFF);  // line 2 not written
    // Every download counts its lines afresh.
    EXPECT_EQ(host.Exchange(lines[0]), ".");
    EXPECT_EQ(host.Exchange(lines[2]), reply);
  }
}

TEST(TargetSimFaults, WeakCellReadsBackWrongThoughTheLineWasAnsweredDot) {
  TargetSimConfig config = Quiet();
  config.weakCellAddress = 0x0105;
  config.weakCellMask = 0x81;  // bit 7 written 0 stays 1, bit 0 written 1 drops to 0
  TargetSim sim(config);
  HostLine host(sim.SlavePath());
  host.Wake();
  EXPECT_EQ(host.Exchange("L:10010000000102030405060708090A0B0C0D0E0F77"), ".");
  EXPECT_EQ(host.Exchange(":00000001FF"), "T\r\n>");
  EXPECT_EQ(host.Exchange("CR0100"), "\r\n00 01 02 03 04 84 06 07 08 09 0A 0B 0C 0D 0E 0F\r\n>");

  // Only programming lines meet the weak cell; a single write is right.
  EXPECT_EQ(host.Exchange("M0000"), "ok\r\n>");
  EXPECT_EQ(host.Exchange("CW010505"), "ok\r\n>");
  EXPECT_EQ(sim.Read(Memory::Code)[0x0105], 0x05);

  // The default mask inverts bit 0 alone.
  sim.Modify([](TargetSimConfig& c) {
    c.weakCellAddress = 0x0002;
    c.weakCellMask = TargetSimConfig{}.weakCellMask;
  });
  EXPECT_EQ(host.Exchange("L:03000000F0F1F22A"), ".");
  EXPECT_EQ(host.Exchange(":00000001FF"), "T\r\n>");
  const auto code = sim.Read(Memory::Code);
  EXPECT_EQ(code[0], 0xF0);
  EXPECT_EQ(code[1], 0xF1);
  EXPECT_EQ(code[2], 0xF3);
}

TEST(TargetSimFaults, BabbleIsEndlessTextWithoutATerminator) {
  TargetSimConfig config = Quiet();
  config.babbleAfter = 1;
  TargetSim sim(config);
  HostLine host(sim.SlavePath());
  host.Wake();
  host.Send("RRE9");
  std::string text;
  const auto deadline = std::chrono::steady_clock::now() + 3s;
  while (text.size() < 8192 && host.ReadSome(text, deadline)) {
  }
  EXPECT_GE(text.size(), 8192u);
  EXPECT_EQ(text.find_first_of(".$>"), std::string::npos);

  sim.Modify([](TargetSimConfig& c) { c.babbleAfter = kNever; });
  host.Drain(200ms);
  EXPECT_EQ(host.Exchange("\r"), "\r\n>");
}

TEST(TargetSimFaults, HangUpClosesTheLineWhenTheNextCommandArrives) {
  TargetSimConfig config = Quiet();
  config.hangUpAfter = 2;
  TargetSim sim(config);
  HostLine host(sim.SlavePath());
  host.Wake();
  EXPECT_EQ(host.Exchange("RRE9"), "03\r\n>");
  EXPECT_FALSE(sim.HungUp());
  host.Send("RRCA");
  EXPECT_EQ(host.Drain(1000ms), "");
  EXPECT_TRUE(host.LastReadFailed());
  EXPECT_TRUE(sim.HungUp());
  EXPECT_FALSE(sim.Running());
  EXPECT_EQ(sim.Transcript().back(), "RRCA");
}


// The digits of a block reply, without blanks, line ends and prompts.
std::string Digits(const std::string& reply) {
  std::string digits;
  for (char c : reply) {
    if (c != ' ' && c != '\r' && c != '\n' && c != '>') digits += c;
  }
  return digits;
}

TEST(TargetSimFaults, DamagedRepliesInEachWayFromTheGivenCommandOn) {
  const std::string good = "\r\n" + HexPairs(0x10) + "\r\n>";
  struct Way {
    unsigned way;
    std::function<bool(const std::string& reply)> shows;
  } ways[] = {
      {kDamageDrop, [](const std::string& r) { return Digits(r).size() == 31; }},
      {kDamageDouble, [](const std::string& r) { return Digits(r).size() == 33; }},
      {kDamageLetter,
       [](const std::string& r) {
         const std::string d = Digits(r);
         return d.size() == 32 && d.find_first_of("GHJKLMNPQRSTUVWXYZ") != std::string::npos;
       }},
      // The first piece ends in the false prompt; the rest follows it.
      {kDamagePrompt, [](const std::string& r) { return Digits(r).size() < 32; }},
  };
  for (const Way& w : ways) {
    TargetSimConfig config = Quiet();
    config.damageRate = 1;
    config.damageFrom = 3;  // the wake-up and "IR10" pass whole
    config.damageWays = w.way;
    TargetSim sim(config);
    std::vector<std::uint8_t> bytes(16);
    for (int i = 0; i < 16; ++i) bytes[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(0x10 + i);
    sim.Load(Memory::Iram, 0x10, bytes);
    HostLine host(sim.SlavePath());
    host.Wake();
    EXPECT_EQ(host.Exchange("IR10"), good);
    const std::string damaged = host.Exchange("IR10");
    EXPECT_TRUE(w.shows(damaged)) << w.way << ": " << damaged;
    EXPECT_TRUE(damaged.ends_with(">"));
    const std::string rest = host.Drain();
    EXPECT_EQ(damaged + rest == good, false);
    if (w.way == kDamagePrompt) {
      EXPECT_EQ(Digits(damaged + rest).size(), 31u) << damaged << rest;
      EXPECT_TRUE(rest.ends_with("\r\n>"));
    } else {
      EXPECT_EQ(rest, "");
    }
    // Replies that carry no data are never damaged.
    EXPECT_EQ(host.Exchange("E"), "\r\n>");
  }
}

TEST(TargetSimFaults, DamageAtARateIsTheSameForTheSameSeed) {
  const auto run = [](unsigned seed) {
    TargetSimConfig config = Quiet();
    config.damageRate = 0.25;
    config.damageSeed = seed;
    TargetSim sim(config);
    HostLine host(sim.SlavePath());
    host.Wake();
    std::string damaged;  // one letter a reply: whole or not
    for (int i = 0; i < 40; ++i) {
      const std::string reply = host.Exchange("RR80");
      host.Drain(std::chrono::milliseconds(20));
      damaged += reply == "FF\r\n>" ? '.' : 'x';  // P0 after reset
    }
    return damaged;
  };
  const std::string first = run(7);
  EXPECT_EQ(run(7), first);
  EXPECT_NE(run(8), first);
  const auto count = std::count(first.begin(), first.end(), 'x');
  EXPECT_GT(count, 2);
  EXPECT_LT(count, 20);
}

}  // namespace
}  // namespace varnel::sim::test
