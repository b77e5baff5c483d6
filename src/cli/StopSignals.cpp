#include "cli/StopSignals.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>

namespace varnel::cli {
namespace {

int stopPipe[2] = {-1, -1};

extern "C" void OnStopSignal(int signal) {
  const char byte = static_cast<char>(signal);
  const int saved = errno;
  [[maybe_unused]] const auto ignored = ::write(stopPipe[1], &byte, 1);
  errno = saved;
}

}  // namespace

int StopSignalPipe() {
  if (stopPipe[0] < 0 && ::pipe2(stopPipe, O_CLOEXEC | O_NONBLOCK) == 0) {
    struct sigaction action {};
    action.sa_handler = OnStopSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    ::sigaction(SIGINT, &action, nullptr);
    ::sigaction(SIGTERM, &action, nullptr);
  }
  return stopPipe[0];
}

}  // namespace varnel::cli
