// varnel-cli terminal as a user runs it: on a terminal of its own (a
// pseudo-terminal standing in for the user's), keys go to the loader as
// typed, replies come back with their control bytes visible, Ctrl+] ends it
// and the terminal's settings are back afterwards; from a pipe, the input is
// sent and the answers shown until the line is quiet.
#include <termios.h>

#include <algorithm>

#include "CliFixture.h"
#include "support/Pty.h"

namespace varnel::testing {
namespace {

// varnel-cli started with its standard input and output on `terminal`, or
// on pipes when it is empty; standard error always on a pipe.
class CliChild {
 public:
  CliChild(const std::vector<std::string>& args, const std::string& configHome,
           const std::string& terminal = {}) {
    int in[2], out[2], err[2];
    if (::pipe2(in, O_CLOEXEC) != 0 || ::pipe2(out, O_CLOEXEC) != 0 || ::pipe2(err, O_CLOEXEC) != 0) {
      throw std::runtime_error("pipe");
    }
    pid_ = Spawn(VARNEL_CLI_EXE, args, [&] {
      if (terminal.empty()) {
        ::dup2(in[0], 0);
        ::dup2(out[1], 1);
      } else {
        const int fd = ::open(terminal.c_str(), O_RDWR | O_NOCTTY);
        ::dup2(fd, 0);
        ::dup2(fd, 1);
      }
      ::dup2(err[1], 2);
      ::setenv("XDG_CONFIG_HOME", configHome.c_str(), 1);
    });
    ::close(in[0]);
    ::close(out[1]);
    ::close(err[1]);
    in_ = in[1];
    out_ = out[0];
    err_ = err[0];
  }
  ~CliChild() {
    if (pid_ > 0) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
    }
    for (int fd : {in_, out_, err_}) {
      if (fd >= 0) ::close(fd);
    }
  }

  void Type(std::string_view bytes) const {
    ASSERT_EQ(::write(in_, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
  }
  void EndInput() {
    ::close(in_);
    in_ = -1;
  }
  // Standard error until it holds `text` (or ten seconds passed).
  std::string ErrorsUntil(const std::string& text) {
    Collect(err_, errors_, [&] { return errors_.find(text) != std::string::npos; });
    return errors_;
  }
  // Standard output (a pipe) likewise.
  std::string OutputUntil(const std::string& text) {
    Collect(out_, output_, [&] { return output_.find(text) != std::string::npos; });
    return output_;
  }
  // The exit status, after reading the pipes to their end.
  int Wait() {
    Collect(out_, output_, [] { return false; });
    Collect(err_, errors_, [] { return false; });
    int status = 0;
    ::waitpid(pid_, &status, 0);
    pid_ = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  }
  const std::string& Output() const { return output_; }
  const std::string& Errors() const { return errors_; }

 private:
  static void Collect(int fd, std::string& text, const std::function<bool()>& enough) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!enough() && std::chrono::steady_clock::now() < end) {
      pollfd p{fd, POLLIN, 0};
      if (::poll(&p, 1, 50) <= 0) continue;
      char buffer[4096];
      const ssize_t n = ::read(fd, buffer, sizeof buffer);
      if (n <= 0) return;
      text.append(buffer, static_cast<std::size_t>(n));
    }
  }

  pid_t pid_ = -1;
  int in_ = -1, out_ = -1, err_ = -1;
  std::string output_, errors_;
};

// What the user's terminal showed, without the carriage returns its own
// output processing puts before each line break.
std::string Screen(const Pty& user, const std::string& until) {
  std::string shown;
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (shown.find(until) == std::string::npos && std::chrono::steady_clock::now() < end) {
    std::string got = user.Receive(1, 50);
    got.erase(std::remove(got.begin(), got.end(), '\r'), got.end());
    shown += got;
  }
  return shown;
}

class CliTerminalTest : public CliTest {
 protected:
  void SetUp() override {
    CliTest::SetUp();
    StartTarget();
    const std::vector<std::uint8_t> config = {0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08,
                                              0x09, 0x0A, 0x0B, 0x0C, 0x0D, 0x0E, 0x0F, 0x10};
    target->Load(sim::Memory::Config, 0x70, config);
  }
  std::vector<std::string> Args(std::vector<std::string> more) const {
    std::vector<std::string> all = {"-p", target->SlavePath(), "-b", "38400"};
    all.insert(all.end(), more.begin(), more.end());
    return all;
  }
};

constexpr char kConfigLine[] = "F70 \\r\\n\n01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F 10\\r\\n\n>";

TEST_F(CliTerminalTest, KeysGoAsTypedRepliesShowVisiblyAndCtrlBracketEnds) {
  Pty user;
  // A terminal as a shell leaves it: line editing, echo, signals.
  termios cooked = user.SlaveSettings();
  cooked.c_iflag |= ICRNL;
  cooked.c_oflag |= OPOST | ONLCR;
  cooked.c_lflag |= ICANON | ECHO | ISIG;
  ::tcsetattr(user.Slave(), TCSANOW, &cooked);

  CliChild cli(Args({"--trace", Path("terminal.trace"), "terminal"}), dir.string(), user.Path());
  const std::string started = cli.ErrorsUntil("Ctrl+] ends it\n");
  ASSERT_NE(started.find("varnel-cli: terminal on " + target->SlavePath() +
                         " at 38400 baud; Ctrl+] ends it\n"),
            std::string::npos)
      << started;
  const termios raw = user.SlaveSettings();
  EXPECT_EQ(raw.c_lflag & (ICANON | ECHO | ISIG), 0u);
  EXPECT_EQ(raw.c_iflag & ICRNL, 0u);

  user.Send("\r");  // Enter
  const std::string banner = Screen(user, "\\r\\n\n>");
  EXPECT_NE(banner.find("\\r\\n\nMSC1210 Boot Loader (simulated) Ver:SIM 1.0.0\\r\\n\n>"),
            std::string::npos)
      << banner;
  user.Send("F70");
  EXPECT_NE(Screen(user, kConfigLine).find(kConfigLine), std::string::npos);
  user.Send("\x1D");
  EXPECT_EQ(cli.Wait(), 0) << cli.Errors();

  // Nothing added, nothing left out, and the terminal as it was.
  EXPECT_EQ(target->Received(), "\rF70");
  const termios after = user.SlaveSettings();
  EXPECT_EQ(after.c_lflag & (ICANON | ECHO | ISIG), ICANON | ECHO | ISIG);
  EXPECT_EQ(after.c_iflag & ICRNL, static_cast<tcflag_t>(ICRNL));
  const std::string trace = ReadFile("terminal.trace");
  EXPECT_NE(trace.find(" > \\r\n"), std::string::npos) << trace;
  EXPECT_NE(trace.find(" > F70\n"), std::string::npos) << trace;
  EXPECT_NE(trace.find(" < "), std::string::npos) << trace;
}

TEST_F(CliTerminalTest, APipedInputIsSentAndTheAnswersShownUntilTheLineIsQuiet) {
  CliChild cli(Args({"-q", "--timeout", "0.3", "terminal"}), dir.string());
  cli.Type("\rF70");
  cli.EndInput();
  ASSERT_EQ(cli.Wait(), 0) << cli.Errors();
  EXPECT_EQ(cli.Errors(), "");
  EXPECT_NE(cli.Output().find("Ver:SIM 1.0.0\\r\\n\n>"), std::string::npos) << cli.Output();
  EXPECT_NE(cli.Output().find(kConfigLine), std::string::npos) << cli.Output();
  EXPECT_EQ(cli.Output().back(), '\n');  // the shell's prompt starts on a line of its own
  EXPECT_EQ(target->Received(), "\rF70");

  // Ctrl+] in the input ends the terminal there; nothing after it goes out.
  target->ClearTranscript();
  CliChild ended(Args({"terminal"}), dir.string());
  ended.Type("E");
  EXPECT_NE(ended.OutputUntil("E").find('E'), std::string::npos);  // the loader's echo
  ended.Type("\x1D" "F70");
  EXPECT_EQ(ended.Wait(), 0) << ended.Errors();
  EXPECT_EQ(target->Received(), "E");

  // The terminal sends no reset of its own.
  const CliResult refused = RunBare({"-p", target->SlavePath(), "--reset", "terminal"});
  EXPECT_EQ(refused.status, 2);
  EXPECT_NE(refused.err.find("reset the target by hand"), std::string::npos) << refused.err;
}

}  // namespace
}  // namespace varnel::testing
