// Running the reset command and reporting how it ended.
#include "cli/ResetCommand.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>

#include "cli/ExitStatus.h"
#include "link/ErrorText.h"

namespace varnel::cli {
namespace {

// The output quoted in a failure: its end, where the reason usually is.
constexpr std::size_t kQuotedOutput = 600;

pid_t Start(const std::string& command, int output) {
  const pid_t pid = ::fork();
  if (pid != 0) return pid;
  const int none = ::open("/dev/null", O_RDONLY);
  if (none >= 0) ::dup2(none, 0);
  ::dup2(output, 1);
  ::dup2(output, 2);
  ::execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char*>(nullptr));
  ::_exit(127);
}

// Reads what is there now; false once the writers are gone.
bool Collect(int fd, std::string& output) {
  char buffer[4096];
  for (;;) {
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n > 0) {
      output.append(buffer, static_cast<std::size_t>(n));
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    return n < 0 && errno == EAGAIN;
  }
}

std::string Quoted(std::string output) {
  while (!output.empty() && (output.back() == '\n' || output.back() == '\r')) output.pop_back();
  if (output.size() > kQuotedOutput) output = "..." + output.substr(output.size() - kQuotedOutput);
  return output.empty() ? " with no output" : ": " + output;
}

}  // namespace

void RunResetCommand(const std::string& command, Screen& screen, bool quiet) {
  screen.Note("reset command: " + command);
  int pipe[2];
  if (::pipe2(pipe, O_CLOEXEC) != 0) {
    throw CliFailure(OutcomeKind::PortFailed, std::string("cannot run the reset command: ") + ErrorText(errno));
  }
  std::fflush(nullptr);
  const pid_t pid = Start(command, pipe[1]);
  ::close(pipe[1]);
  if (pid < 0) {
    ::close(pipe[0]);
    throw CliFailure(OutcomeKind::PortFailed, std::string("cannot run the reset command: ") + ErrorText(errno));
  }
  ::fcntl(pipe[0], F_SETFL, O_NONBLOCK);

  // Until the shell ends: a command it left running in the background may
  // hold the output open for longer, and is not waited for.
  using Clock = std::chrono::steady_clock;
  const auto deadline = Clock::now() + std::chrono::milliseconds(kResetCommandLimitMs);
  std::string output;
  int status = 0;
  bool timedOut = false;
  bool outputOpen = true;
  for (;;) {
    const pid_t done = ::waitpid(pid, &status, WNOHANG);
    if (done == pid || (done < 0 && errno != EINTR)) break;
    if (Clock::now() >= deadline) {
      timedOut = true;
      ::kill(pid, SIGKILL);
      ::waitpid(pid, &status, 0);
      break;
    }
    pollfd p{outputOpen ? pipe[0] : -1, POLLIN, 0};
    if (::poll(&p, 1, 20) > 0) outputOpen = Collect(pipe[0], output);
  }
  if (outputOpen) Collect(pipe[0], output);
  ::close(pipe[0]);

  const std::string what = "the reset command \"" + command + "\"";
  if (timedOut) {
    throw CliFailure(OutcomeKind::PortFailed, what + " did not end within " +
                                    std::to_string(kResetCommandLimitMs / 1000) + " s" +
                                    Quoted(output));
  }
  if (WIFSIGNALED(status) && WTERMSIG(status) == SIGINT) {
    throw CliFailure(OutcomeKind::Interrupted, "interrupted");
  }
  if (WIFSIGNALED(status)) {
    throw CliFailure(OutcomeKind::PortFailed, what + " was ended by signal " + std::to_string(WTERMSIG(status)) +
                                    Quoted(output));
  }
  if (WEXITSTATUS(status) != 0) {
    throw CliFailure(OutcomeKind::PortFailed, what + " failed with exit status " +
                                    std::to_string(WEXITSTATUS(status)) + Quoted(output));
  }
  if (!quiet && !output.empty()) {
    screen.Break();
    std::fwrite(output.data(), 1, output.size(), stderr);
    if (output.back() != '\n') std::fputc('\n', stderr);
  }
}

}  // namespace varnel::cli
