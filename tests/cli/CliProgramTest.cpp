// varnel-cli program, verify and erase as a process against the simulated
// boot loader, and the checks of the program file before anything is sent.
#include <cstring>
#include <random>
#include <map>
#include <set>
#include <sstream>

#include "CliFixture.h"

namespace varnel::testing {
namespace {

using sim::Memory;

// Address -> byte of every data record of an Intel HEX text.
std::map<unsigned, std::uint8_t> DataOf(const std::string& text) {
  std::map<unsigned, std::uint8_t> data;
  std::istringstream lines(text);
  for (std::string line; std::getline(lines, line);) {
    if (line.size() < 11 || line[0] != ':' || line.substr(7, 2) != "00") continue;
    const auto count = std::stoul(line.substr(1, 2), nullptr, 16);
    const auto address = std::stoul(line.substr(3, 4), nullptr, 16);
    for (unsigned i = 0; i < count; ++i) {
      data[address + i] = static_cast<std::uint8_t>(std::stoul(line.substr(9 + 2 * i, 2), nullptr, 16));
    }
  }
  return data;
}

std::string Blink() { return testing::ReadFile(kTestData / "blink.hex"); }

class CliProgramTest : public CliTest {
 protected:
  void SetUp() override {
    CliTest::SetUp();
    WriteFile("blink.hex", Blink());
  }
};

TEST_F(CliProgramTest, ProgramVerifyOfAnSdccFileWritesTheFlashAndTheRegisters) {
  StartTarget();
  target->Fill(Memory::Code, 0x5A);  // old code, so the erase shows
  const CliResult r = Cli({"program", "--verify", "--hcr1", "5A", "--hcr0", "FE", Path("blink.hex")});
  ASSERT_EQ(r.status, 0) << r.err;
  const auto data = DataOf(Blink());
  EXPECT_EQ(r.out, "verify: " + std::to_string(data.size()) + " bytes match blink.hex\n");
  EXPECT_NE(r.err.find("Programming target finished successfully!"), std::string::npos) << r.err;

  const auto flash = target->Read(Memory::Code);
  for (std::size_t a = 0; a < flash.size(); ++a) {
    const auto it = data.find(static_cast<unsigned>(a));
    ASSERT_EQ(flash[a], it == data.end() ? 0xFF : it->second) << a;
  }
  const auto cfg = target->Read(Memory::Config);
  EXPECT_EQ(cfg[0x7E], 0x5A);
  EXPECT_EQ(cfg[0x7F], 0xFE);
  // The window's run: timing writes, both erases, the lines, both registers.
  const auto t = target->Transcript();
  const auto at = [&](const std::string& c) { return std::find(t.begin(), t.end(), c) - t.begin(); };
  EXPECT_LT(at("RWFD2A"), at("M0000"));
  EXPECT_LT(at("M0000"), at("M8000"));
  EXPECT_LT(at("CW807E5A"), at("CW807FFE"));
  EXPECT_EQ(CountSent("CR"), 9u);  // the read-back of 0000h-008Fh
}

TEST_F(CliProgramTest, ProgramVerifyOfABinaryImage) {
  StartTarget();
  const auto image = RandomBytes(3001, 11);
  WriteFile("image.bin", std::string(image.begin(), image.end()));
  const CliResult r = Cli({"program", "--verify", "--no-hcr", Path("image.bin")});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "verify: 3001 bytes match image.bin\n");
  const auto flash = target->Read(Memory::Code);
  EXPECT_TRUE(std::equal(image.begin(), image.end(), flash.begin()));
  EXPECT_EQ(flash[3001], 0xFF);
  // Converted in memory: unlike the window, nothing is written beside the image.
  EXPECT_FALSE(std::filesystem::exists(Path("imagetmp.hex")));
  EXPECT_EQ(CountSent("CW"), 0u);
}

TEST_F(CliProgramTest, VerifyCatchesAByteTheTargetStoredWrongly) {
  sim::TargetSimConfig config;
  config.weakCellAddress = 0x75;
  config.weakCellMask = 0x01;
  StartTarget(config);
  const auto data = DataOf(Blink());
  ASSERT_TRUE(data.count(0x75));
  char expected[64];
  std::snprintf(expected, sizeof expected, "0075h: file %02Xh, target %02Xh\n", data.at(0x75),
                data.at(0x75) ^ 0x01);

  CliResult r = Cli({"program", "--verify", Path("blink.hex")});
  EXPECT_EQ(r.status, 1) << r.err;
  EXPECT_EQ(r.out, std::string(expected) + "verify: 1 of " + std::to_string(data.size()) +
                       " bytes differ from blink.hex\n");
  EXPECT_NE(r.err.find("varnel-cli: verify: 1 bytes differ"), std::string::npos) << r.err;

  // The verify command alone sees the same and writes nothing.
  target->ClearTranscript();
  r = Cli({"verify", Path("blink.hex")});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out.substr(0, std::strlen(expected)), expected);
  EXPECT_EQ(CountSent("M") + CountSent("L") + CountSent("CW") + CountSent("RW"), 0u);
}

TEST_F(CliProgramTest, VerifyOverANoisyLineCountsOnlyWhatEveryReadShows) {
  sim::TargetSimConfig config;
  config.weakCellAddress = 0x75;
  config.weakCellMask = 0x01;
  StartTarget(config);
  const auto data = DataOf(Blink());
  ASSERT_EQ(Cli({"program", Path("blink.hex")}).status, 0);
  // Read replies damaged in every way, digits turned into other digits too,
  // after the handshake (wake-up, RRE9, RRCA, RRCB, RRE9 of an awake loader):
  // one read would find differences the flash does not have.
  const auto noisyAfterHandshake = [&] {
    target->Modify([from = static_cast<int>(target->CommandCount()) + 6](sim::TargetSimConfig& c) {
      c.damageRate = 0.3;
      c.damageWays = sim::kDamageAll | sim::kDamageDigit;
      c.damageFrom = from;
      c.damageSeed = 1;
    });
  };
  noisyAfterHandshake();
  target->ClearTranscript();
  CliResult r = Cli({"verify", Path("blink.hex")});
  EXPECT_EQ(r.status, 1) << r.err;
  char expected[64];
  std::snprintf(expected, sizeof expected, "0075h: file %02Xh, target %02Xh\n", data.at(0x75),
                data.at(0x75) ^ 0x01);
  EXPECT_EQ(r.out, std::string(expected) + "verify: 1 of " + std::to_string(data.size()) +
                       " bytes differ from blink.hex\n");
  std::set<unsigned> blocks;
  for (const auto& entry : data) blocks.insert(entry.first & ~0xFu);
  EXPECT_GE(CountSent("CR"), blocks.size() + 2);  // the weak cell's block twice more at least

  // Programmed right, the same line finds nothing.
  target->Modify([](sim::TargetSimConfig& c) { c.weakCellAddress = sim::kNever; });
  target->Modify([](sim::TargetSimConfig& c) { c.damageRate = 0; });
  ASSERT_EQ(Cli({"program", Path("blink.hex")}).status, 0);
  noisyAfterHandshake();
  r = Cli({"verify", Path("blink.hex")});
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_EQ(r.out, "verify: " + std::to_string(data.size()) + " bytes match blink.hex\n");
}

// 4 KB of code padded with FFh to 32 KB, as a linker's binary is.
std::vector<std::uint8_t> PaddedImage() {
  std::vector<std::uint8_t> image(32768, 0xFF);
  std::mt19937 random(29);
  for (std::size_t i = 0; i < 4096; ++i) image[i] = static_cast<std::uint8_t>(random() % 0xFF);
  return image;
}

TEST_F(CliProgramTest, AfterTheEraseRecordsOfFFhAloneAreNotSentAndVerifyStillReadsThem) {
  StartTarget();
  const auto image = PaddedImage();
  WriteFile("fw.bin", std::string(image.begin(), image.end()));
  // Data records the target received, the first one sent with "L".
  const auto dataRecords = [&] {
    std::size_t n = 0;
    for (const auto& c : target->Transcript()) {
      const std::size_t colon = c.find(':');
      n += (c.rfind(":", 0) == 0 || c.rfind("L:", 0) == 0) && c.substr(colon + 7, 2) == "00";
    }
    return n;
  };
  const auto program = [&](const std::vector<std::string>& args) {
    target->Fill(Memory::Code, 0x5A);
    target->ClearTranscript();
    const CliResult r = Cli(args);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(target->Read(Memory::Code), image);
    return r;
  };

  CliResult r = program({"program", "--verify", Path("fw.bin")});
  EXPECT_EQ(dataRecords(), 256u);
  EXPECT_NE(r.err.find("programming fw.bin: 32768 bytes, 4096 sent (28672 erased bytes skipped) in "),
            std::string::npos) << r.err;
  EXPECT_EQ(r.out, "verify: 32768 bytes match fw.bin\n");
  EXPECT_EQ(CountSent("CR"), 2048u);  // every address, the padding too

  // A HEX file whose gaps a linker filled with FFh (objcopy --gap-fill 0xff).
  const std::string gapFilled = testing::ReadFile(kTestData / "blink-gap-filled.hex");
  WriteFile("gap.hex", gapFilled);
  std::size_t code = 0, erased = 0;
  std::istringstream lines(gapFilled);
  for (std::string line; std::getline(lines, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();  // objcopy ends lines with CR LF
    if (line.substr(7, 2) != "00") continue;
    (line.find_first_not_of('F', 9) < line.size() - 2 ? code : erased)++;
  }
  ASSERT_GT(erased, 100u);
  target->Fill(Memory::Code, 0x5A);
  target->ClearTranscript();
  r = Cli({"program", "--verify", Path("gap.hex")});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(dataRecords(), code);
  const auto data = DataOf(gapFilled);
  EXPECT_EQ(r.out, "verify: " + std::to_string(data.size()) + " bytes match gap.hex\n");
  const auto flash = target->Read(Memory::Code);
  for (const auto& [address, byte] : data) ASSERT_EQ(flash[address], byte) << address;

  // Without the erase, or when asked, every record goes out.
  r = program({"program", "--send-all", Path("fw.bin")});
  EXPECT_EQ(dataRecords(), 2048u);
  EXPECT_NE(r.err.find("programming fw.bin: 32768 bytes, 32768 sent in "), std::string::npos) << r.err;
  target->Fill(Memory::Code, 0xFF);
  target->ClearTranscript();
  ASSERT_EQ(Cli({"program", "--no-mass-erase", Path("fw.bin")}).status, 0);
  EXPECT_EQ(CountSent("M0000"), 0u);
  EXPECT_EQ(dataRecords(), 2048u);
  EXPECT_EQ(target->Read(Memory::Code), image);
}

TEST_F(CliProgramTest, ACellTheEraseMissedInsideThePaddingFailsVerify) {
  sim::TargetSimConfig config;
  config.unerasedCellAddress = 0x5000;
  StartTarget(config);
  const auto image = PaddedImage();
  WriteFile("fw.bin", std::string(image.begin(), image.end()));
  const CliResult r = Cli({"program", "--verify", Path("fw.bin")});
  EXPECT_EQ(r.status, 1) << r.err;
  EXPECT_EQ(r.out, "5000h: file FFh, target 00h\nverify: 1 of 32768 bytes differ from fw.bin\n");
}

TEST_F(CliProgramTest, EraseClearsTheFlashThePageOrBoth) {
  StartTarget();
  struct Case {
    std::vector<std::string> args;
    bool flash, page;
  };
  for (const Case& c : {Case{{"erase"}, true, false}, Case{{"erase", "--with-cfg"}, true, true},
                        Case{{"erase", "--cfg-only"}, false, true}}) {
    SCOPED_TRACE(c.args.back());
    target->Fill(Memory::Code, 0x11);
    target->Fill(Memory::Config, 0x22);
    target->ClearTranscript();
    const CliResult r = Cli(c.args);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(target->Read(Memory::Code)[100], c.flash ? 0xFF : 0x11);
    EXPECT_EQ(target->Read(Memory::Config)[5], c.page ? 0xFF : 0x22);
    EXPECT_EQ(CountSent("RW"), 4u);  // the flash timing comes first
    EXPECT_EQ(CountSent("M0000"), c.flash ? 1u : 0u);
    EXPECT_EQ(CountSent("M8000"), c.page ? 1u : 0u);
    EXPECT_EQ(CountSent("L") + CountSent("CW"), 0u);
  }
}

TEST_F(CliProgramTest, ACorruptFileIsRefusedBeforeAnythingIsSent) {
  StartTarget();
  const std::string good = ":0400000001020304F2\n";
  struct Case {
    const char* name;
    std::string text;
    const char* message;
  };
  for (const Case& c : {Case{"sum.hex", good + ":0400040001020304F0\n:00000001FF\n", "sum.hex, line 2"},
                        Case{"junk.hex", good + good + "hello world\n", "junk.hex, line 3"},
                        Case{"far.hex", good + ":02900000AABB09\n", "far.hex, line 2"},
                        Case{"big.bin", std::string(40000, 'x'), "big.bin"}}) {
    SCOPED_TRACE(c.name);
    WriteFile(c.name, c.text);
    const CliResult r = Cli({"program", Path(c.name)});
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("Nothing was sent."), std::string::npos) << r.err;
  }
  const CliResult missing = Cli({"verify", Path("nowhere.hex")});
  EXPECT_EQ(missing.status, 2);
  EXPECT_NE(missing.err.find("nowhere.hex"), std::string::npos);
  EXPECT_EQ(target->Received(), "");
}

TEST_F(CliProgramTest, DataBeyondTheFlashOfTheConnectedChipStopsTheRunBeforeTheTimingWrites) {
  sim::TargetSimConfig config;
  config.variant = 3;  // 8 KB
  StartTarget(config);
  WriteFile("wide.hex", ":0400000001020304F2\n:02200000AABB79\n:00000001FF\n");
  const CliResult r = Cli({"program", Path("wide.hex")});
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find("wide.hex, line 2: data at 2000h lies beyond the 8 KB flash"),
            std::string::npos) << r.err;
  EXPECT_GT(CountSent("RR"), 0u);  // connected
  EXPECT_EQ(CountSent("RW") + CountSent("M"), 0u);
}

TEST_F(CliProgramTest, EpmaClearWithoutThePageEraseIsRefused) {
  StartTarget();
  const CliResult r = Cli({"program", "--hcr0", "7F", "--no-erase-cfg", Path("blink.hex")});
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find("Bit EPMA disable programming flash!"), std::string::npos) << r.err;
  EXPECT_EQ(CountSent("RW") + CountSent("M"), 0u);
}

}  // namespace
}  // namespace varnel::testing
