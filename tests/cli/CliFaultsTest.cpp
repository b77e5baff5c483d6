// varnel-cli against a target that misbehaves: it never waits forever, ends
// the loader's line mode when interrupted, and says by its exit status
// what happened.
#include "CliFixture.h"

namespace varnel::testing {
namespace {

using sim::Memory;

// Commands of a connect to a freshly reset loader: CR, RRE9, E, RRE9,
// RRCA, RRCB, RRE9.
constexpr int kHandshakeCommands = 7;

class CliFaultsTest : public CliTest {
 protected:
  void SetUp() override {
    CliTest::SetUp();
    WriteFile("blink.hex", testing::ReadFile(kTestData / "blink.hex"));
  }
  // What the target received after the handshake.
  std::vector<std::string> AfterHandshake() const {
    const auto t = target->Transcript();
    return {t.begin() + std::min<std::size_t>(kHandshakeCommands, t.size()), t.end()};
  }
};

TEST_F(CliFaultsTest, ASilentTargetEndsWithinTheTimeOutPlusASecond) {
  sim::TargetSimConfig config;
  config.silentAfter = 0;
  StartTarget(config);
  const CliResult r = Cli({"--timeout", "1", "info"});
  EXPECT_EQ(r.status, 3);
  EXPECT_LT(r.seconds, 2.0);
  EXPECT_NE(r.err.find("varnel-cli: Failed to connect target!"), std::string::npos) << r.err;
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(CountSent("\r"), 3u);  // three carriage returns, as the window sends
}

TEST_F(CliFaultsTest, ATargetFallingSilentMidwayNamesTheCommandLeftUnanswered) {
  sim::TargetSimConfig config;
  config.silentAfter = kHandshakeCommands + 5;
  StartTarget(config);
  const CliResult r = Cli({"--timeout", "1", "read", "code", "-o", Path("code.hex")});
  EXPECT_EQ(r.status, 3);
  EXPECT_LT(r.seconds, 2.5);
  EXPECT_NE(r.err.find("no answer to \"CR0050\" within 1 s"), std::string::npos) << r.err;
  EXPECT_FALSE(std::filesystem::exists(Path("code.hex")));  // no partial file
}

TEST_F(CliFaultsTest, ARefusedEraseExitsOneAndSendsNothingAfterIt) {
  sim::TargetSimConfig config;
  config.refuseErase = true;
  StartTarget(config);
  const CliResult r = Cli({"program", Path("blink.hex")});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("varnel-cli: Failed Erase target!"), std::string::npos) << r.err;
  const auto sent = AfterHandshake();
  ASSERT_FALSE(sent.empty());
  EXPECT_EQ(sent.back(), "M0000");
}

TEST_F(CliFaultsTest, LineFaultsEndTheDownloadWithTheirMessage) {
  for (const auto& [fault, message] :
       {std::pair{sim::LineError::WriteError, "Line write error, programming terminated!"},
        std::pair{sim::LineError::ChecksumError, "Line checksum error, programming terminated!"}}) {
    sim::TargetSimConfig config;
    config.lineErrorAt = 3;
    config.lineError = fault;
    StartTarget(config);
    const CliResult r = Cli({"program", "--verify", Path("blink.hex")});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find(message), std::string::npos) << r.err;
    // The third line was the last thing sent: no end record, no read-back.
    const auto sent = AfterHandshake();
    ASSERT_FALSE(sent.empty());
    EXPECT_EQ(sent.back().rfind(":03000300", 0), 0u) << sent.back();
    EXPECT_EQ(CountSent("CR"), 0u);
    target->Stop();
  }
}

TEST_F(CliFaultsTest, APortThatCannotBeOpenedExitsFour) {
  const CliResult r = RunBare({"-p", Path("no-such-tty"), "info"});
  EXPECT_EQ(r.status, 4);
  EXPECT_NE(r.err.find("varnel-cli: cannot open the port " + Path("no-such-tty")), std::string::npos)
      << r.err;
  StartTarget();
  WriteFile("plain", "");
  EXPECT_EQ(RunBare({"-p", Path("plain"), "info"}).status, 4);  // not a terminal
}

TEST_F(CliFaultsTest, ALineThatHangsUpExitsFour) {
  sim::TargetSimConfig config;
  config.hangUpAfter = kHandshakeCommands + 3;
  StartTarget(config);
  const CliResult r = Cli({"read", "code", "-o", Path("code.bin")});
  EXPECT_EQ(r.status, 4);
  EXPECT_LT(r.seconds, 2.0);  // noticed at once, not at the time-out
  EXPECT_NE(r.err.find("went away"), std::string::npos) << r.err;
}

TEST_F(CliFaultsTest, CtrlCDuringADownloadSendsTheEndRecordAndExits130) {
  sim::TargetSimConfig config;
  config.paced = true;  // 9600 baud on the wire: the download takes seconds
  StartTarget(config);
  const auto image = RandomBytes(4096, 3);
  WriteFile("image.bin", std::string(image.begin(), image.end()));
  std::size_t atSignal = 0;
  const CliResult r = RunBare(
      {"-p", target->SlavePath(), "-b", "9600", "program", Path("image.bin")}, [&](pid_t pid) {
        // Well into the download: handshake, 4 timing writes, 2 erases, then lines.
        if (target->WaitForCommands(kHandshakeCommands + 6 + 20, std::chrono::seconds(20))) {
          atSignal = target->CommandCount();
          ::kill(pid, SIGINT);
        }
      });
  EXPECT_EQ(r.status, 130) << r.err;
  EXPECT_NE(r.err.find("interrupted"), std::string::npos) << r.err;
  const auto sent = target->Transcript();
  ASSERT_FALSE(sent.empty());
  EXPECT_EQ(sent.back(), ":00000001FF");
  // At most the record in flight went out between the signal and the end record.
  EXPECT_LE(target->CommandCount(), atSignal + 2);
  EXPECT_FALSE(target->InLineMode());
  EXPECT_EQ(CountSent("CW"), 0u);
}

TEST_F(CliFaultsTest, CtrlCWhileReadingLeavesNoFile) {
  sim::TargetSimConfig config;
  config.paced = true;
  StartTarget(config);
  const CliResult r = RunBare({"-p", target->SlavePath(), "-b", "9600", "read", "code", "-o",
                               Path("code.hex")},
                              [&](pid_t pid) {
                                target->WaitForCommands(kHandshakeCommands + 10, std::chrono::seconds(20));
                                ::kill(pid, SIGINT);
                              });
  EXPECT_EQ(r.status, 130);
  EXPECT_FALSE(std::filesystem::exists(Path("code.hex")));
}

}  // namespace
}  // namespace varnel::testing
