// A pseudo-terminal pair for tests of anything that talks over the serial
// port: the port opens Path() (the slave side), the test plays the target on
// the master side. A second descriptor on the slave is held open so that the
// master never sees the line hang up between a close and a reopen of the
// port, and so that the test can look at the line settings.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <stdexcept>
#include <string>
#include <string_view>

namespace varnel::testing {

class Pty {
 public:
  Pty() {
    master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master_ < 0 || ::grantpt(master_) != 0 || ::unlockpt(master_) != 0) {
      throw std::runtime_error("no pseudo-terminal");
    }
    char name[128];
    if (::ptsname_r(master_, name, sizeof name) != 0) throw std::runtime_error("no pty name");
    path_ = name;
    keeper_ = ::open(path_.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (keeper_ < 0) throw std::runtime_error("cannot open " + path_);
    // Raw from the start: no echo of what the peer sends before the port opens.
    termios t{};
    ::tcgetattr(keeper_, &t);
    ::cfmakeraw(&t);
    ::tcsetattr(keeper_, TCSANOW, &t);
  }
  Pty(const Pty&) = delete;
  Pty& operator=(const Pty&) = delete;
  ~Pty() {
    if (keeper_ >= 0) ::close(keeper_);
    CloseMaster();
  }

  const std::string& Path() const { return path_; }
  int Master() const { return master_; }

  // The peer sends bytes (all of them).
  void Send(std::string_view bytes) const {
    std::size_t done = 0;
    while (done < bytes.size()) {
      const ssize_t n = ::write(master_, bytes.data() + done, bytes.size() - done);
      if (n > 0) {
        done += static_cast<std::size_t>(n);
      } else if (n < 0 && errno != EINTR && errno != EAGAIN) {
        throw std::runtime_error("pty write failed");
      }
    }
  }

  // What reached the peer: waits until at least `want` bytes came or the
  // time is up, and returns what it has.
  std::string Receive(std::size_t want, int timeoutMs = 2000) const {
    std::string got;
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (got.size() < want) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                            end - std::chrono::steady_clock::now())
                            .count();
      if (left <= 0) break;
      pollfd p{master_, POLLIN, 0};
      if (::poll(&p, 1, static_cast<int>(left)) <= 0) continue;
      char buf[4096];
      const ssize_t n = ::read(master_, buf, sizeof buf);
      if (n <= 0) break;
      got.append(buf, static_cast<std::size_t>(n));
    }
    return got;
  }

  // Line settings of the slave side as the port left them.
  termios SlaveSettings() const {
    termios t{};
    ::tcgetattr(keeper_, &t);
    return t;
  }
  int Slave() const { return keeper_; }

  // The peer goes away: the slave side hangs up.
  void CloseMaster() {
    if (master_ >= 0) ::close(master_);
    master_ = -1;
  }
  // Drop the second slave descriptor (so only the port holds the line).
  void CloseKeeper() {
    if (keeper_ >= 0) ::close(keeper_);
    keeper_ = -1;
  }

 private:
  int master_ = -1;
  int keeper_ = -1;
  std::string path_;
};

}  // namespace varnel::testing
