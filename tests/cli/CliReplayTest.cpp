// A trace recorded by varnel-cli played back by varnel-target-sim --replay:
// the same command runs through it as through the simulator, and a command
// that leaves the trace ends the replay with a report and status 1.
#include <signal.h>
#include <sys/wait.h>

#include "CliFixture.h"

namespace varnel::testing {
namespace {

// varnel-target-sim as a child process: its device path from the first line
// of its output, its messages and its exit status at the end.
class SimProcess {
 public:
  explicit SimProcess(const std::vector<std::string>& args) {
    int out[2], err[2];
    if (::pipe2(out, O_CLOEXEC) != 0 || ::pipe2(err, O_CLOEXEC) != 0) throw std::runtime_error("pipe");
    pid_ = Spawn(VARNEL_TARGET_SIM_EXE, args, [&] {
      ::dup2(out[1], 1);
      ::dup2(err[1], 2);
    });
    ::close(out[1]);
    ::close(err[1]);
    out_ = out[0];
    err_ = err[0];
    char c;
    while (::read(out_, &c, 1) == 1 && c != '\n') path_ += c;
  }
  ~SimProcess() {
    if (pid_ > 0) Stop();
    ::close(out_);
    ::close(err_);
  }

  const std::string& Path() const { return path_; }

  // The exit status once it ended by itself within limitMs, or -1.
  int WaitExit(int limitMs) {
    for (int waited = 0; waited < limitMs; waited += 10) {
      int status = 0;
      if (::waitpid(pid_, &status, WNOHANG) == pid_) {
        pid_ = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return -1;
  }
  // Sends SIGTERM and returns the exit status.
  int Stop() {
    ::kill(pid_, SIGTERM);
    return WaitExit(10000);
  }
  // Everything written on standard error (once it ended).
  std::string Messages() {
    std::string text;
    char buffer[4096];
    for (ssize_t n; (n = ::read(err_, buffer, sizeof buffer)) > 0;) text.append(buffer, static_cast<std::size_t>(n));
    return text;
  }

 private:
  pid_t pid_ = -1;
  int out_ = -1, err_ = -1;
  std::string path_;
};

// Line n (from 1) of a text.
std::string LineOf(const std::string& text, int n) {
  std::istringstream in(text);
  std::string line;
  for (int i = 0; i < n && std::getline(in, line); ++i) {
  }
  return line;
}

class CliReplayTest : public CliTest {
 protected:
  // A program --verify run against the simulator, recorded.
  void Record() {
    StartTarget();
    const std::string hex = ReadFileAt(kTestData / "blink.hex");
    WriteFile("blink.hex", hex);
    recorded = Cli({"--trace", Path("run.trace"), "program", "--verify", Path("blink.hex")});
    ASSERT_EQ(recorded.status, 0) << recorded.err;
    target->Stop();
  }
  static std::string ReadFileAt(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
  }
  CliResult OnReplay(const SimProcess& sim, std::vector<std::string> args) {
    args.insert(args.begin(), {"-p", sim.Path(), "-b", "38400"});
    return RunBare(args);
  }

  CliResult recorded;
};

TEST_F(CliReplayTest, ARecordedProgramRunPlaysBackToTheSameResult) {
  Record();
  SimProcess sim({"--replay", Path("run.trace"), "--no-link"});
  ASSERT_FALSE(sim.Path().empty());
  const CliResult again = OnReplay(sim, {"program", "--verify", Path("blink.hex")});
  EXPECT_EQ(again.status, 0) << again.err;
  EXPECT_EQ(again.out, recorded.out);
  EXPECT_NE(again.err.find("verifying CODE 0000h-008Fh: 144 of 144 bytes"), std::string::npos)
      << again.err;

  EXPECT_EQ(sim.Stop(), 0);
  const std::string messages = sim.Messages();
  EXPECT_NE(messages.find(" lines of " + Path("run.trace") + " played"), std::string::npos) << messages;
}

TEST_F(CliReplayTest, AHostThatLeavesTheTraceEndsTheReplayWithAReport) {
  Record();
  const std::string trace = ReadFile("run.trace");
  SimProcess sim({"--replay", Path("run.trace"), "--no-link"});
  // The handshake is the same; then the read asks for a block where the
  // trace holds the programming run's first command.
  const CliResult r = OnReplay(sim, {"--timeout", "1", "read", "code", "--to", "000F"});
  // The replay says nothing more and ends: the line hangs up, or the
  // command's time-out comes first.
  EXPECT_TRUE(r.status == 4 || r.status == 3) << r.status << " " << r.err;
  EXPECT_EQ(sim.WaitExit(10000), 1);
  const std::string messages = sim.Messages();

  const std::string lead = "the host left the trace at line ";
  const std::size_t at = messages.find(lead);
  ASSERT_NE(at, std::string::npos) << messages;
  const int line = std::stoi(messages.substr(at + lead.size()));
  const std::string recordedLine = LineOf(trace, line);
  EXPECT_NE(recordedLine.find(" > "), std::string::npos) << recordedLine;
  EXPECT_NE(messages.find("  line " + std::to_string(line) + ": " + recordedLine + "\n"),
            std::string::npos)
      << messages;
  EXPECT_NE(messages.find("  expected \"" + recordedLine.substr(recordedLine.find(" > ") + 3) + "\"\n"),
            std::string::npos)
      << messages;
  EXPECT_NE(messages.find("  received \"CR0000\""), std::string::npos) << messages;
}

TEST_F(CliReplayTest, TheReplayRefusesWhatItCannotPlay) {
  WriteFile("bad.trace", "# a trace\n0.100 > \\r\n0.200 < \\r\\n>\nnot a trace line\n");
  SimProcess bad({"--replay", Path("bad.trace"), "--no-link"});
  EXPECT_EQ(bad.WaitExit(10000), 2);
  const std::string badText = bad.Messages();
  EXPECT_NE(badText.find("line 4 is no trace line"), std::string::npos) << badText;

  SimProcess missing({"--replay", Path("none.trace"), "--no-link"});
  EXPECT_EQ(missing.WaitExit(10000), 2);
  EXPECT_NE(missing.Messages().find("cannot read " + Path("none.trace")), std::string::npos);

  WriteFile("ok.trace", "0.100 > \\r\n");
  SimProcess mixed({"--replay", Path("ok.trace"), "--delay", "5", "--no-link"});
  EXPECT_EQ(mixed.WaitExit(10000), 2);
  EXPECT_NE(mixed.Messages().find("--delay does not apply"), std::string::npos);

  // Stopped before the host sent what the trace holds: where it stood.
  SimProcess waiting({"--replay", Path("ok.trace"), "--no-link"});
  EXPECT_EQ(waiting.Stop(), 1);
  const std::string stopped = waiting.Messages();
  EXPECT_NE(stopped.find("the replay stopped at line 1 of " + Path("ok.trace") +
                         " (0 of 1 lines played)"),
            std::string::npos)
      << stopped;
}

}  // namespace
}  // namespace varnel::testing
