// The host's end of the simulator's line for tests: the slave device opened
// with a plain descriptor in raw mode, and reads that end the way the tool
// ends a reply (on ".", "$" or ">" as the last byte received).
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <stdexcept>
#include <string>
#include <string_view>

#include "target-sim/TargetSim.h"

namespace varnel::sim::test {

using namespace std::chrono_literals;

class HostLine {
 public:
  explicit HostLine(const std::string& path, speed_t speed = B9600) {
    fd_ = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd_ < 0) throw std::runtime_error("cannot open " + path);
    termios settings{};
    tcgetattr(fd_, &settings);
    cfmakeraw(&settings);
    cfsetspeed(&settings, speed);
    tcsetattr(fd_, TCSANOW, &settings);
  }
  ~HostLine() { close(fd_); }
  HostLine(const HostLine&) = delete;
  HostLine& operator=(const HostLine&) = delete;

  int Fd() const { return fd_; }

  void Send(std::string_view text) {
    if (write(fd_, text.data(), text.size()) != static_cast<ssize_t>(text.size())) {
      throw std::runtime_error("write to the line failed");
    }
  }

  // Everything up to a read that ends in a reply terminator, or what came
  // before the time-out.
  std::string ReadReply(std::chrono::milliseconds timeout = 3000ms) {
    std::string text;
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (ReadSome(text, deadline)) {
      const char last = text.back();
      if (last == '.' || last == '$' || last == '>') break;
    }
    return text;
  }

  // Everything up to and including the first occurrence of ending.
  std::string ReadUntil(std::string_view ending, std::chrono::milliseconds timeout = 3000ms) {
    std::string text;
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (text.find(ending) == std::string::npos && ReadSome(text, deadline)) {
    }
    return text;
  }

  // What arrives within the window (used to show that nothing comes).
  std::string Drain(std::chrono::milliseconds window = 150ms) {
    std::string text;
    const auto deadline = std::chrono::steady_clock::now() + window;
    while (ReadSome(text, deadline)) {
    }
    return text;
  }

  std::string Exchange(std::string_view command) {
    Send(command);
    return ReadReply();
  }

  // Waking the loader after reset and turning its echo off, as the tool's
  // connect does; returns the banner.
  std::string Wake() { return Exchange("\r"); }
  void WakeQuiet() {
    Wake();
    Exchange("E");
  }

  // One read into text; false at the deadline or when the line is gone.
  bool ReadSome(std::string& text, std::chrono::steady_clock::time_point deadline) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return false;
    pollfd p{fd_, POLLIN, 0};
    if (poll(&p, 1, static_cast<int>(left.count())) <= 0) return false;
    char buffer[4096];
    const ssize_t n = read(fd_, buffer, sizeof buffer);
    if (n <= 0) {
      lastReadFailed_ = true;
      return false;
    }
    text.append(buffer, static_cast<std::size_t>(n));
    return true;
  }
  bool LastReadFailed() const { return lastReadFailed_; }

 private:
  int fd_ = -1;
  bool lastReadFailed_ = false;
};

// Sixteen bytes as the loader prints them.
inline std::string HexPairs(std::uint8_t first, int count = 16) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string text;
  for (int i = 0; i < count; ++i) {
    const auto v = static_cast<std::uint8_t>(first + i);
    if (i > 0) text += ' ';
    text += kDigits[v >> 4];
    text += kDigits[v & 15];
  }
  return text;
}

}  // namespace varnel::sim::test
