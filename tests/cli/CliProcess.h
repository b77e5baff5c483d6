// varnel-cli run as a user runs it: a child process with its own empty
// per-user store, its standard output and error collected, its exit status
// and how long it took. The simulator runs in this process, so a test can
// look at what the target received and stored.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace varnel::testing {

struct CliResult {
  int status = -1;  // exit status; 128 + n after signal n
  std::string out, err;
  double seconds = 0;
};

// Starts program with args in a child process; inChild runs in the child
// first, to set up its descriptors and environment.
inline pid_t Spawn(const std::string& program, const std::vector<std::string>& args,
                   const std::function<void()>& inChild) {
  const pid_t pid = ::fork();
  if (pid == 0) {
    inChild();
    std::vector<std::string> all = {program};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& a : all) argv.push_back(a.data());
    argv.push_back(nullptr);
    ::execv(argv[0], argv.data());
    ::_exit(127);
  }
  return pid;
}

// Runs varnel-cli with args, XDG_CONFIG_HOME set to configHome. during, if
// given, runs on a thread of its own with the child's pid while it runs.
// A child that outlives limitMs is killed (status -1). inChild, if given,
// runs in the child before it starts (a folder or environment of its own).
inline CliResult RunCli(const std::vector<std::string>& args, const std::string& configHome,
                        const std::function<void(pid_t)>& during = {}, int limitMs = 30000,
                        const std::function<void()>& inChild = {}) {
  int out[2], err[2];
  if (::pipe2(out, O_CLOEXEC) != 0 || ::pipe2(err, O_CLOEXEC) != 0) throw std::runtime_error("pipe");
  const auto start = std::chrono::steady_clock::now();
  const pid_t pid = Spawn(VARNEL_CLI_EXE, args, [&] {
    ::dup2(out[1], 1);
    ::dup2(err[1], 2);
    ::setenv("XDG_CONFIG_HOME", configHome.c_str(), 1);
    if (inChild) inChild();
  });
  ::close(out[1]);
  ::close(err[1]);
  std::thread helper;
  if (during) helper = std::thread(during, pid);

  CliResult result;
  pollfd fds[2] = {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}};
  std::string* texts[2] = {&result.out, &result.err};
  int open = 2;
  bool killed = false;
  while (open > 0) {
    const auto elapsed = std::chrono::steady_clock::now() - start;
    const int left = limitMs - static_cast<int>(
                                   std::chrono::duration_cast<std::chrono::milliseconds>(elapsed).count());
    if (left <= 0 && !killed) {
      ::kill(pid, SIGKILL);
      killed = true;
    }
    if (::poll(fds, 2, std::max(left, 100)) < 0) break;
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP))) continue;
      char buffer[4096];
      const ssize_t n = ::read(fds[i].fd, buffer, sizeof buffer);
      if (n > 0) {
        texts[i]->append(buffer, static_cast<std::size_t>(n));
      } else {
        ::close(fds[i].fd);
        fds[i].fd = -1;
        --open;
      }
    }
  }
  int status = 0;
  ::waitpid(pid, &status, 0);
  result.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  if (helper.joinable()) helper.join();
  if (killed) {
    result.status = -1;
  } else if (WIFEXITED(status)) {
    result.status = WEXITSTATUS(status);
  } else if (WIFSIGNALED(status)) {
    result.status = 128 + WTERMSIG(status);
  }
  return result;
}

}  // namespace varnel::testing
