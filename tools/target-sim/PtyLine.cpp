// The simulator's pseudo-terminal.
#include "target-sim/PtyLine.h"

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

namespace varnel::sim {

PtyLine::PtyLine() { OpenPair(); }

void PtyLine::OpenPair() {
  const auto fail = [this](const std::string& what) {
    const int error = errno;
    for (int* fd : {&master_, &slave_, &wake_[0], &wake_[1]}) {
      if (*fd >= 0) close(*fd);
      *fd = -1;
    }
    throw std::runtime_error(what + ": " + std::strerror(error));
  };
  master_ = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (master_ < 0) fail("cannot open a pseudo-terminal");
  char name[128];
  if (grantpt(master_) != 0 || unlockpt(master_) != 0 || ptsname_r(master_, name, sizeof name) != 0) {
    fail("cannot set up the pseudo-terminal");
  }
  slavePath_ = name;
  slave_ = open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (slave_ < 0) fail("cannot open " + slavePath_);
  if (pipe2(wake_, O_CLOEXEC | O_NONBLOCK) != 0) fail("cannot make a wake-up pipe");
  // A serial line passes bytes unchanged: raw on the slave side, at the
  // rate a terminal program would expect by default.
  termios settings{};
  if (tcgetattr(slave_, &settings) == 0) {
    cfmakeraw(&settings);
    cfsetspeed(&settings, B9600);
    tcsetattr(slave_, TCSANOW, &settings);
  }
  fcntl(master_, F_SETFL, fcntl(master_, F_GETFL) | O_NONBLOCK);
}

PtyLine::~PtyLine() {
  for (int fd : {master_, slave_, wake_[0], wake_[1]}) {
    if (fd >= 0) close(fd);
  }
}

void PtyLine::Wake() {
  [[maybe_unused]] const auto ignored = write(wake_[1], "s", 1);
}

bool PtyLine::WriteAll(const char* data, std::size_t size) {
  while (size > 0) {
    if (master_ < 0) return false;
    const ssize_t n = write(master_, data, size);
    if (n > 0) {
      data += n;
      size -= static_cast<std::size_t>(n);
      continue;
    }
    if (n < 0 && errno != EAGAIN && errno != EINTR) return false;
    // The host is not reading: wait for room, or for the stop.
    pollfd fds[2] = {{master_, POLLOUT, 0}, {wake_[0], POLLIN, 0}};
    if (poll(fds, 2, -1) < 0 && errno != EINTR) return false;
    if (fds[1].revents != 0) return false;
  }
  return true;
}

void PtyLine::HangUp() {
  for (int* fd : {&slave_, &master_}) {
    if (*fd >= 0) close(*fd);
    *fd = -1;
  }
}

void PtyLine::Reopen() {
  for (int* fd : {&slave_, &master_, &wake_[0], &wake_[1]}) {
    if (*fd >= 0) close(*fd);
    *fd = -1;
  }
  OpenPair();
}

}  // namespace varnel::sim
