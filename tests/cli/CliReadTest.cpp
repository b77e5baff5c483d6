// varnel-cli info, read and the options every command shares, as a process
// against the simulated boot loader.
#include <sstream>

#include "CliFixture.h"
#include "link/Trace.h"

namespace varnel::testing {
namespace {

using sim::Memory;

// What objcopy writes for the same bytes at the same base, or "" without it.
std::string ObjcopyHex(const std::string& bin, unsigned base) {
  return ObjcopyIntelHex(bin, bin + ".objcopy.hex", base);
}

TEST_F(CliTest, InfoPrintsTheTargetAsKeyValueLines) {
  sim::TargetSimConfig config;
  config.variant = 4;
  config.version = "LOADER 12";
  StartTarget(config);
  const CliResult r = Cli({"info"});
  ASSERT_EQ(r.status, 0) << r.err;
  // 11.0592 MHz at 38400 baud gives a reload of 65536 - 9: 9 * 32 * 38400 Hz.
  EXPECT_EQ(r.out, "port: " + target->SlavePath() +
                       "\nbaud: 38400\ntarget: MSC1210Y4\nfirmware: LOADER 12\nid: 02\n"
                       "clock_hz: 11059200\nclock_step_hz: 1228800\nflash_bytes: 16384\n");
  EXPECT_NE(r.err.find("connected: MSC1210Y4"), std::string::npos) << r.err;
}

TEST_F(CliTest, ReadOfEachMemoryToHexAndBinHoldsWhatTheTargetHolds) {
  StartTarget();
  target->Load(Memory::Code, 0, RandomBytes(32768, 1));
  target->Load(Memory::ExtRam, 0, RandomBytes(2048, 2));
  target->Load(Memory::Iram, 0, RandomBytes(256, 3));
  target->Load(Memory::Config, 0, RandomBytes(128, 4));
  // The registers the handshake reads keep their values.
  std::vector<std::uint8_t> sfr = target->Read(Memory::Sfr);
  const auto noise = RandomBytes(256, 5);
  for (int a = 0x80; a < 0x100; ++a) {
    if (a != 0xE9 && a != 0xCA && a != 0xCB) sfr[a] = noise[a];
  }
  target->Load(Memory::Sfr, 0, sfr);

  struct Case {
    const char* name;
    Memory memory;
    std::size_t first;  // offset in the simulator's memory
    unsigned base;      // target address of the range
  };
  for (const Case& c : {Case{"code", Memory::Code, 0, 0}, Case{"xdata", Memory::ExtRam, 0, 0},
                        Case{"iram", Memory::Iram, 0, 0}, Case{"sfr", Memory::Sfr, 0x80, 0x80},
                        Case{"cfg", Memory::Config, 0, 0x8000}}) {
    SCOPED_TRACE(c.name);
    const std::string bin = Path(std::string(c.name) + ".bin");
    const std::string hex = Path(std::string(c.name) + ".hex");
    ASSERT_EQ(Cli({"read", c.name, "-o", bin}).status, 0);
    const CliResult r = Cli({"-q", "read", c.name, "--output", hex});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");  // quiet

    const auto memory = target->Read(c.memory);
    const std::string expected(memory.begin() + static_cast<std::ptrdiff_t>(c.first), memory.end());
    EXPECT_EQ(ReadFile(std::string(c.name) + ".bin"), expected);
    const std::string reference = ObjcopyHex(bin, c.base);
    ASSERT_FALSE(reference.empty()) << "objcopy is part of the build tools";
    EXPECT_EQ(ReadFile(std::string(c.name) + ".hex"), reference);
  }
}

TEST_F(CliTest, ReadOfARangeTakesExactlyItsBytesAndDumpsLinesWithoutAFile) {
  StartTarget();
  const auto code = RandomBytes(32768, 7);
  target->Load(Memory::Code, 0, code);
  ASSERT_EQ(Cli({"read", "code", "--from", "0x105", "--to", "234h", "-o", Path("part.bin")}).status, 0);
  EXPECT_EQ(ReadFile("part.bin"), std::string(code.begin() + 0x105, code.begin() + 0x235));
  // Only the blocks of the range were asked for.
  EXPECT_EQ(CountSent("CR"), (0x230 - 0x100) / 16 + 1u);

  const CliResult dump = Cli({"read", "cfg", "--from", "807E"});
  ASSERT_EQ(dump.status, 0) << dump.err;
  EXPECT_EQ(dump.out.substr(0, 7), "8070 - ");
  EXPECT_EQ(std::count(dump.out.begin(), dump.out.end(), '\n'), 1);
}

TEST_F(CliTest, ReadBeyondTheFlashOfTheChipIsRefusedAfterTheHandshake) {
  sim::TargetSimConfig config;
  config.variant = 2;  // 4 KB
  StartTarget(config);
  const CliResult r = Cli({"read", "code", "--to", "1FFF", "-o", Path("x.bin")});
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find("beyond the 4 KB flash"), std::string::npos) << r.err;
  EXPECT_EQ(CountSent("CR"), 0u);
  EXPECT_FALSE(std::filesystem::exists(Path("x.bin")));
}

TEST_F(CliTest, BadUsageExitsTwoAndSendsNothing) {
  StartTarget();
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"frobnicate"}, {"read", "eeprom"}, {"read", "iram", "--from", "20", "--to", "10"},
        {"read", "sfr", "--from", "10"}, {"read", "code", "-o", Path("x.txt")},
        {"info", "--verify"}, {"-b", "12345", "info"}, {"--timeout", "soon", "info"},
        {"erase", "--cfg-only", "--with-cfg"}, {"program"}, {"--frob", "info"}, {"info", "--port"},
        {"--verify=yes", "program", Path("x.hex")}, {"info", "extra"}}) {
    const CliResult r = Cli(args);
    EXPECT_EQ(r.status, 2) << args[0];
    EXPECT_EQ(r.err.rfind("varnel-cli: ", 0), 0u) << r.err;
  }
  EXPECT_EQ(target->Received(), "");
  const CliResult noPort = RunBare({"info"});
  EXPECT_EQ(noPort.status, 2);
  EXPECT_NE(noPort.err.find("no port given"), std::string::npos) << noPort.err;
}

TEST_F(CliTest, HelpDocumentsEveryCommandOptionAndExitStatus) {
  const CliResult r = RunBare({"--help"});
  ASSERT_EQ(r.status, 0);
  for (const char* word : {"ports", "info", "read MEMORY", "program FILE", "verify FILE", "erase",
                           "--port", "--baud", "--project", "--reset", "--timeout", "--trace",
                           "--quiet", "--from", "--to", "--verify", "--no-mass-erase",
                           "--no-erase-cfg", "--no-flash", "--no-hcr", "--hcr0", "--hcr1",
                           "--cfg-only", "--with-cfg", "130", "clock_hz", "flash_bytes",
                           "--reset-seq", "pulse-inverted", "break=MS", "--reset-cmd", "--clock",
                           "clock_step_hz", "115200"}) {
    EXPECT_NE(r.out.find(word), std::string::npos) << word;
  }
}

TEST_F(CliTest, TraceHoldsEveryByteBothWaysInOrder) {
  StartTarget();
  const CliResult r = Cli({"--trace", Path("trace.txt"), "read", "iram"});
  ASSERT_EQ(r.status, 0) << r.err;
  std::istringstream lines(ReadFile("trace.txt"));
  std::string sent, received, line;
  double last = 0;
  while (std::getline(lines, line)) {
    double ms = 0;
    char direction = 0;
    int consumed = 0;
    ASSERT_EQ(std::sscanf(line.c_str(), "%lf %c %n", &ms, &direction, &consumed), 2) << line;
    EXPECT_GE(ms, last);
    last = ms;
    std::string bytes;
    ASSERT_TRUE(TraceBytes(line.substr(static_cast<std::size_t>(consumed)), bytes)) << line;
    (direction == '>' ? sent : received) += bytes;
  }
  EXPECT_EQ(sent, target->Received());
  EXPECT_EQ(sent.substr(0, 5), "\rRRE9");
  EXPECT_NE(received.find("Ver:SIM 1.0.0"), std::string::npos);
}

TEST_F(CliTest, SettingsComeFromTheOptionsThenTheProjectThenThePerUserStore) {
  StartTarget();
  // The per-user store names a COM port mapped to the simulator's line.
  std::filesystem::create_directories(dir / "Varnel");
  WriteFile("Varnel/Varnel.ini", "[Properties]\nPort=COM3\nBaud=19200\n[Ports]\nCOM3=" +
                                     target->SlavePath() + "\n");
  CliResult r = RunBare({"info"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("port: " + target->SlavePath() + "\nbaud: 19200\n"), std::string::npos);

  WriteFile("board.prj", "[Properties]\nPort=" + target->SlavePath() + "\nBaud=4800\n");
  r = RunBare({"--project", Path("board.prj"), "info"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("baud: 4800\n"), std::string::npos) << r.out;

  r = RunBare({"--project", Path("board.prj"), "-b", "38400", "info"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("baud: 38400\n"), std::string::npos) << r.out;

  EXPECT_EQ(RunBare({"--project", Path("missing.prj"), "info"}).status, 2);
}

TEST_F(CliTest, ProgressIsALinePerStepWhenStandardErrorIsNoTerminal) {
  StartTarget();
  const CliResult r = Cli({"read", "code", "-o", Path("c.bin")});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.err.find("reading CODE 0000h-7FFFh: 32768 of 32768 bytes in "), std::string::npos)
      << r.err;
  EXPECT_EQ(r.err.find('\r'), std::string::npos);
  EXPECT_EQ(r.out, "");  // results only: the file was the result
}

TEST_F(CliTest, TheSimulatorProgramServesAsATargetToo) {
  // The way a user tries it out: the simulator started by hand, its link.
  const std::string link = Path("target");
  const std::string command = std::string(VARNEL_TARGET_SIM_EXE) + " --link " + link +
                              " > " + Path("sim.out") + " 2>&1 & echo $!";
  FILE* shell = ::popen(command.c_str(), "r");
  ASSERT_NE(shell, nullptr);
  int pid = 0;
  ASSERT_EQ(std::fscanf(shell, "%d", &pid), 1);
  ::pclose(shell);
  for (int i = 0; i < 100 && !std::filesystem::exists(link); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  const CliResult r = RunBare({"-p", link, "info"});
  ::kill(pid, SIGTERM);
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("target: MSC1210Y5\n"), std::string::npos) << r.out;
}

}  // namespace
}  // namespace varnel::testing
