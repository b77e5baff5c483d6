// varnel-cli on real benches: the board's reset sequence, a reset command
// before the wake-up, faster lines and the crystal given by hand.
#include "CliFixture.h"

namespace varnel::testing {
namespace {

class CliResetTest : public CliTest {
 protected:
  // The flash timing writes the target received, after "RWEFA5".
  std::vector<std::string> TimingWrites() const {
    std::vector<std::string> writes;
    for (const auto& c : target->Transcript()) {
      if (c.rfind("RWF", 0) == 0) writes.push_back(c);
    }
    return writes;
  }
};

TEST_F(CliResetTest, AMalformedSequenceIsRefusedBeforeAnythingIsSent) {
  StartTarget();
  const CliResult option = Cli({"--reset-seq", "dtr=1,40,rts=on", "info"});
  EXPECT_EQ(option.status, 2);
  EXPECT_NE(option.err.find("Reset sequence step 3 \"rts=on\": rts takes 0 or 1"), std::string::npos)
      << option.err;

  // The same from a project that turns the reset on.
  WriteFile("bench.prj", "[Properties]\nResetSequence=pulse,break=0\n[MSC1210Setup]\nControlDTR=1\n");
  const CliResult stored = Cli({"--project", Path("bench.prj"), "info"});
  EXPECT_EQ(stored.status, 2);
  EXPECT_NE(stored.err.find("Reset sequence step 2 \"break=0\""), std::string::npos) << stored.err;
  EXPECT_NE(stored.err.find("bench.prj"), std::string::npos) << stored.err;
  EXPECT_EQ(target->Received(), "");

  // Without a reset due the stored one is not used; --reset-seq replaces it.
  WriteFile("off.prj", "[Properties]\nResetSequence=break=0\n");
  EXPECT_EQ(Cli({"--project", Path("off.prj"), "info"}).status, 0);
  EXPECT_EQ(Cli({"--project", Path("off.prj"), "--reset", "info"}).status, 2);
  const CliResult replaced = Cli({"--project", Path("bench.prj"), "--reset-seq", "break=20,30", "info"});
  EXPECT_EQ(replaced.status, 0) << replaced.err;
  EXPECT_EQ(replaced.err.find("warning: EscapeCommFunction"), std::string::npos) << replaced.err;
  // A pseudo-terminal has no modem lines: the pulse is tried, said, and the
  // connect goes on.
  const CliResult pulse = Cli({"--reset-seq", "pulse-inverted", "info"});
  EXPECT_EQ(pulse.status, 0) << pulse.err;
  EXPECT_NE(pulse.err.find("warning: EscapeCommFunction failure (Error: 25)"), std::string::npos)
      << pulse.err;
  const CliResult terminal = Cli({"--reset-seq", "pulse", "terminal"});
  EXPECT_EQ(terminal.status, 2);
  EXPECT_NE(terminal.err.find("not with --reset-seq"), std::string::npos) << terminal.err;
}

TEST_F(CliResetTest, TheResetCommandRunsFirstAndItsFailureEndsTheRun) {
  StartTarget();
  const CliResult ok = Cli({"--reset-cmd", "echo hub cycled; touch " + Path("ran"), "info"});
  EXPECT_EQ(ok.status, 0) << ok.err;
  EXPECT_TRUE(std::filesystem::exists(Path("ran")));
  EXPECT_NE(ok.err.find("hub cycled"), std::string::npos) << ok.err;
  EXPECT_LT(ok.err.find("hub cycled"), ok.err.find("connected:")) << ok.err;

  const std::size_t before = target->Received().size();
  const CliResult failed = Cli({"--reset-cmd", "echo relay jammed >&2; exit 3", "info"});
  EXPECT_EQ(failed.status, 4);
  EXPECT_NE(failed.err.find("varnel-cli: the reset command \"echo relay jammed >&2; exit 3\" "
                            "failed with exit status 3: relay jammed"),
            std::string::npos)
      << failed.err;
  EXPECT_EQ(failed.out, "");
  EXPECT_EQ(target->Received().size(), before);  // no wake-up went out

  // The terminal power-cycles the board the same way, and sends nothing of its own.
  const CliResult terminal = Cli({"--reset-cmd", "exit 5", "terminal"});
  EXPECT_EQ(terminal.status, 4);
  EXPECT_NE(terminal.err.find("failed with exit status 5 with no output"), std::string::npos)
      << terminal.err;

  const CliResult killed = Cli({"--reset-cmd", "kill -TERM $$", "info"});
  EXPECT_EQ(killed.status, 4);
  EXPECT_NE(killed.err.find("was ended by signal 15 with no output"), std::string::npos)
      << killed.err;
}

TEST_F(CliResetTest, InfoAtFastRatesGivesTheClockStepAndWarnsWhenItIsCoarse) {
  StartTarget();
  const CliResult fast = Cli({"-b", "115200", "info"});
  ASSERT_EQ(fast.status, 0) << fast.err;
  // 11.0592 MHz at 115200 baud: a reload of 65536 - 3, in steps of 32 x 115200 Hz.
  EXPECT_NE(fast.out.find("baud: 115200\n"), std::string::npos) << fast.out;
  EXPECT_NE(fast.out.find("clock_hz: 11059200\nclock_step_hz: 3686400\n"), std::string::npos)
      << fast.out;
  EXPECT_NE(fast.err.find("varnel-cli: warning: the clock estimate 11059200 Hz goes in steps of "
                          "3686400 Hz at 115200 baud, 33% of it"),
            std::string::npos)
      << fast.err;

  const CliResult slow = Cli({"-b", "9600", "info"});
  ASSERT_EQ(slow.status, 0) << slow.err;
  EXPECT_NE(slow.out.find("clock_step_hz: 307200\n"), std::string::npos) << slow.out;
  EXPECT_EQ(slow.err.find("warning"), std::string::npos) << slow.err;
  // A crystal given takes the place of the coarse estimate: no warning.
  EXPECT_EQ(Cli({"-b", "115200", "--clock", "11.0592MHz", "info"}).err.find("warning"),
            std::string::npos);

  EXPECT_EQ(Cli({"-b", "57600", "info"}).status, 0);
  const CliResult odd = Cli({"-b", "76800", "info"});
  EXPECT_EQ(odd.status, 2);
  EXPECT_NE(odd.err.find("38400, 56000, 57600, 115200, 128000, 256000"), std::string::npos) << odd.err;
}

TEST_F(CliResetTest, AGivenCrystalSetsTheFlashTimingAndADisagreeingEstimateIsNamed) {
  StartTarget();
  ASSERT_EQ(Cli({"-q", "erase"}).status, 0);
  EXPECT_EQ(TimingWrites(), (std::vector<std::string>{"RWFB0A", "RWFCF7", "RWFD2A"}));

  StartTarget();
  const CliResult given = Cli({"--clock", "4000000", "erase"});
  ASSERT_EQ(given.status, 0) << given.err;
  EXPECT_EQ(TimingWrites(), (std::vector<std::string>{"RWFB03", "RWFC9F", "RWFD0F"}));
  EXPECT_NE(given.err.find("varnel-cli: warning: the clock estimate 11059200 Hz disagrees with "
                           "--clock 4000000 Hz by more than one step (1228800 Hz at 38400 baud)"),
            std::string::npos)
      << given.err;

  // 3.5 MHz: u and r are rounded each on its own, halves to even.
  StartTarget();
  ASSERT_EQ(Cli({"-q", "--clock", "3500k", "erase"}).status, 0);
  EXPECT_EQ(TimingWrites(), (std::vector<std::string>{"RWFB02", "RWFC9F", "RWFD0F"}));

  for (const char* bad : {"12x", "0", "41M", "-4M", "M"}) {
    const CliResult r = Cli({"--clock", bad, "erase"});
    EXPECT_EQ(r.status, 2) << bad;
    EXPECT_NE(r.err.find("--clock needs the crystal in Hz"), std::string::npos) << r.err;
  }
}

}  // namespace
}  // namespace varnel::testing
