// The simulated loader's commands, exchanged over its pseudo-terminal.
#include <gtest/gtest.h>

#include <vector>

#include "HostLine.h"

namespace varnel::sim::test {
namespace {

TEST(TargetSimWake, BannerOnceThenBarePromptAndNothingBeforeTheFirstReturn) {
  TargetSim sim;
  HostLine host(sim.SlavePath());
  host.Send("RRE9");  // before the rate is set nothing is understood
  EXPECT_EQ(host.Drain(), "");

  const std::string banner = host.Exchange("\r");
  ASSERT_GT(banner.size(), 10u);
  EXPECT_EQ(banner.back(), '>');
  EXPECT_GE(banner.find('>'), 10u);  // beyond the 10th character: a banner
  const auto colon = banner.find(':');
  ASSERT_NE(colon, std::string::npos);
  EXPECT_EQ(banner.substr(colon + 1, 9), "SIM 1.0.0");

  const std::string prompt = host.Exchange("\r");
  EXPECT_EQ(prompt, "\r\n>");
  EXPECT_EQ(sim.Transcript(), (std::vector<std::string>{"\r", "\r"}));
  EXPECT_EQ(sim.Received(), "RRE9\r\r");

  sim.Reset();
  EXPECT_NE(host.Exchange("\r").find("Ver:"), std::string::npos);
}

TEST(TargetSimEcho, OnAfterResetOffAfterE) {
  TargetSim sim;
  HostLine host(sim.SlavePath());
  host.Wake();
  EXPECT_EQ(host.Exchange("RRE9"), "RRE9 03\r\n>");
  host.Exchange("E");
  EXPECT_FALSE(sim.EchoOn());
  EXPECT_EQ(host.Exchange("RRE9"), "03\r\n>");

  TargetSim quiet(TargetSimConfig{.echo = false});
  HostLine other(quiet.SlavePath());
  other.Wake();
  EXPECT_EQ(other.Exchange("RRE9"), "03\r\n>");
}

TEST(TargetSimRegisters, IdentificationWriteAndReadBack) {
  TargetSimConfig config;
  config.idValue = 0x07;
  TargetSim sim(config);
  HostLine host(sim.SlavePath());
  host.WakeQuiet();
  EXPECT_EQ(host.Exchange("RRE9"), "07\r\n>");
  EXPECT_EQ(host.Exchange("RWFB0A"), "\r\n>");
  EXPECT_EQ(host.Exchange("RRFB"), "0A\r\n>");
  host.Exchange("RWE955");  // the identification register is read-only
  EXPECT_EQ(host.Exchange("RRE9"), "07\r\n>");
  EXPECT_EQ(sim.Read(Memory::Sfr)[0xFB], 0x0A);

  TargetSim y2(TargetSimConfig{.variant = 2});
  HostLine line2(y2.SlavePath());
  line2.WakeQuiet();
  EXPECT_EQ(line2.Exchange("RRE9"), "00\r\n>");
}

// The tool estimates the clock as (65536 - reload) * baud * 32.
TEST(TargetSimRegisters, BaudTimerReloadFollowsClockAndLineRate) {
  EXPECT_EQ(BaudReload(11059200, 9600), 0xFFDC);
  EXPECT_EQ(BaudReload(11059200, 38400), 0xFFF7);

  TargetSim sim;
  {
    HostLine host(sim.SlavePath(), B9600);
    host.WakeQuiet();
    EXPECT_EQ(host.Exchange("RRCA"), "DC\r\n>");
    EXPECT_EQ(host.Exchange("RRCB"), "FF\r\n>");
  }
  HostLine fast(sim.SlavePath(), B38400);
  fast.Exchange("\r");  // every carriage return measures the rate again
  EXPECT_EQ(fast.Exchange("RRCA"), "F7\r\n>");

  TargetSimConfig fixed;
  fixed.clockHz = 4000000;
  fixed.baud = 2400;
  TargetSim other(fixed);
  HostLine line(other.SlavePath(), B38400);
  line.WakeQuiet();
  const int reload = 65536 - 52;  // 4 MHz / (32 * 2400) = 52.08
  EXPECT_EQ(line.Exchange("RRCA"), HexPairs(reload & 0xFF, 1) + "\r\n>");
  EXPECT_EQ(line.Exchange("RRCB"), "FF\r\n>");
}

TEST(TargetSimReads, BlocksOfSixteenFromEachMemory) {
  TargetSim sim;
  std::vector<std::uint8_t> pattern(16);
  for (int i = 0; i < 16; ++i) pattern[i] = static_cast<std::uint8_t>(0x01 + i);
  sim.Load(Memory::Code, 0x0A30, pattern);
  sim.Load(Memory::ExtRam, 0x0100, pattern);
  sim.Load(Memory::Iram, 0x05, pattern);
  sim.Load(Memory::Config, 0x70, pattern);
  HostLine host(sim.SlavePath());
  host.WakeQuiet();

  const std::string data = "\r\n" + HexPairs(0x01) + "\r\n>";
  EXPECT_EQ(host.Exchange("CR0A30"), data);
  EXPECT_EQ(host.Exchange("XR0100"), data);
  EXPECT_EQ(host.Exchange("IR05"), data);
  EXPECT_EQ(host.Exchange("F70"), data);
  EXPECT_EQ(host.Exchange("cr0a30"), data);  // typed in lower case
  // Code space: the configuration page at 8000h, nothing beyond the flash.
  EXPECT_EQ(host.Exchange("CR8070"), data);
  EXPECT_EQ(host.Exchange("CRF000"),
            "\r\nFF FF FF FF FF FF FF FF FF FF FF FF FF FF FF FF\r\n>");
  EXPECT_EQ(host.Exchange("IRFC").substr(2, 11), "00 00 00 00");  // wraps at 256
}

TEST(TargetSimReads, EchoComesFirstThenABlankAsTheToolCutsIt) {
  TargetSim sim;
  HostLine host(sim.SlavePath());
  host.Wake();
  const std::string code = host.Exchange("CR0010");
  EXPECT_EQ(code.substr(0, 7), "CR0010 ");
  const std::string config = host.Exchange("F00");
  // The tool drops 4 characters after an "F" echo: echo and separator.
  EXPECT_EQ(config.substr(0, 4), "F00 ");
  EXPECT_EQ(config.substr(4, 2), "\r\n");
}

TEST(TargetSimFlashSize, FollowsTheVariant) {
  for (int variant : {2, 3, 4, 5}) {
    TargetSim sim(TargetSimConfig{.variant = variant});
    EXPECT_EQ(sim.Read(Memory::Code).size(), 1024u << variant);
  }
  TargetSim sim;
  EXPECT_EQ(sim.Read(Memory::ExtRam).size(), 2048u);
  EXPECT_EQ(sim.Read(Memory::Iram).size(), 256u);
  EXPECT_EQ(sim.Read(Memory::Sfr).size(), 256u);
  EXPECT_EQ(sim.Read(Memory::Config).size(), 128u);
  const std::vector<std::uint8_t> tooMuch(129);
  EXPECT_THROW(sim.Load(Memory::Config, 0, tooMuch), std::out_of_range);
}

TEST(TargetSimErase, FlashAndConfigurationPage) {
  TargetSim sim;
  sim.Fill(Memory::Code, 0x12);
  sim.Fill(Memory::Config, 0x34);
  HostLine host(sim.SlavePath());
  host.WakeQuiet();
  EXPECT_EQ(host.Exchange("M0000"), "ok\r\n>");
  EXPECT_EQ(sim.Read(Memory::Code), std::vector<std::uint8_t>(32768, 0xFF));
  EXPECT_EQ(sim.Read(Memory::Config)[0], 0x34);
  EXPECT_EQ(host.Exchange("M8000"), "ok\r\n>");
  EXPECT_EQ(sim.Read(Memory::Config), std::vector<std::uint8_t>(128, 0xFF));
  EXPECT_EQ(host.Exchange("M1234"), "x\r\n>");
}

TEST(TargetSimConfigWrite, WritesErasedCellsAndRefusesTheRest) {
  TargetSim sim;
  HostLine host(sim.SlavePath());
  host.WakeQuiet();
  EXPECT_EQ(host.Exchange("CW807E5A"), "ok\r\n>");
  EXPECT_EQ(host.Exchange("CW807F7F"), "ok\r\n>");
  EXPECT_EQ(sim.Read(Memory::Config)[0x7E], 0x5A);
  EXPECT_EQ(sim.Read(Memory::Config)[0x7F], 0x7F);
  // A flash cell cannot get a bit back without an erase.
  EXPECT_EQ(host.Exchange("CW807FFF"), "x\r\n>");
  EXPECT_EQ(host.Exchange("CW900000"), "x\r\n>");
  host.Exchange("M8000");
  EXPECT_EQ(host.Exchange("CW807FFF"), "ok\r\n>");
}

TEST(TargetSimCommands, TranscriptHoldsCommandsExactlyAsReceived) {
  TargetSim sim;
  HostLine host(sim.SlavePath());
  host.WakeQuiet();
  host.Exchange("RRE9");
  host.Send("\n \n");  // line ends and blanks between commands are skipped
  host.Exchange("cr0000");
  host.Send("CR");  // no terminator: incomplete, so nothing answers yet
  EXPECT_EQ(host.Exchange("\r"), "\r\n>");  // a return cuts it short
  EXPECT_EQ(host.Exchange("RRG1"), "\r\n?\r\n>");
  EXPECT_EQ(sim.Transcript(),
            (std::vector<std::string>{"\r", "E", "RRE9", "cr0000", "CR", "\r", "RRG"}));
  EXPECT_EQ(host.Drain(), "");  // the "1" after the refused command is ignored
  EXPECT_EQ(sim.CommandCount(), 7u);
  EXPECT_TRUE(sim.WaitForCommands(7, 0ms));
  sim.ClearTranscript();
  EXPECT_TRUE(sim.Transcript().empty());
  EXPECT_EQ(sim.CommandCount(), 7u);
}

TEST(TargetSimCommands, DumpTextHasEveryMemory) {
  TargetSim sim;
  sim.Load(Memory::Iram, 0x10, std::vector<std::uint8_t>{0xAB, 0xCD});
  const std::string dump = sim.DumpText();
  for (const char* section : {"[CODE] 32768 bytes", "[XRAM] 2048 bytes", "[IRAM] 256 bytes",
                              "[SFR] 256 bytes", "[CONFIG] 128 bytes"}) {
    EXPECT_NE(dump.find(section), std::string::npos) << section;
  }
  EXPECT_NE(dump.find("0010: AB CD 00"), std::string::npos);
}

}  // namespace
}  // namespace varnel::sim::test
