// The bare loop the benchmarks measure the tool against: TComm on the
// simulator's pseudo-terminal, the next command the moment a reply is whole.
#pragma once

#include <poll.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <set>
#include <stdexcept>
#include <string>
#include <string_view>
#include <thread>

#include "link/CommInt.h"

namespace varnel::bench {

// Descriptors of this process open on the device.
inline std::set<int> DescriptorsOn(const std::string& device) {
  std::set<int> fds;
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd", error)) {
    std::error_code unreadable;
    if (std::filesystem::read_symlink(entry.path(), unreadable) == device && !unreadable) {
      fds.insert(std::stoi(entry.path().filename().string()));
    }
  }
  return fds;
}

// The host's end: TComm on the simulator's pty, reads waited for with poll
// on the port's own descriptor (found as the one Open added for the device).
class BareLine {
 public:
  BareLine(const std::string& device, TBaudrate rate) {
    const std::set<int> before = DescriptorsOn(device);
    comm_.SetDeviceName(device);
    comm_.SetBaudRate(rate);
    comm_.Open();
    for (int fd : DescriptorsOn(device)) {
      if (!before.count(fd)) fd_ = fd;
    }
    if (fd_ < 0) std::fprintf(stderr, "bench: the port's descriptor is unknown; polling\n");
  }
  ~BareLine() { comm_.Close(); }

  void Send(std::string_view text) {
    if (comm_.Write(text.data(), static_cast<int>(text.size())) != static_cast<int>(text.size())) {
      throw std::runtime_error("write to the line timed out");
    }
    bytes += static_cast<long long>(text.size());
  }

  // Reads until a read ends in one of the terminators, as the tool's receive
  // path ends a reply; false on time-out.
  bool AwaitReply(std::string_view terminators = ".$>") {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    char buffer[4096];
    for (;;) {
      const int n = comm_.Read(buffer, sizeof buffer);
      if (n > 0) {
        bytes += n;
        if (terminators.find(buffer[n - 1]) != std::string_view::npos) return true;
        continue;
      }
      if (std::chrono::steady_clock::now() > deadline) return false;
      if (fd_ >= 0) {
        pollfd p{fd_, POLLIN, 0};
        ::poll(&p, 1, 100);
      } else {
        std::this_thread::sleep_for(std::chrono::microseconds(20));
      }
    }
  }

  bool Exchange(std::string_view command, std::string_view terminators = ".$>") {
    Send(command);
    return AwaitReply(terminators);
  }

  // The banner holds a "." of its own: wake and echo off wait for the prompt.
  bool WakeQuiet() { return Exchange("\r", ">") && Exchange("E", ">"); }

  long long bytes = 0;  // sent and received

 private:
  TComm comm_;
  int fd_ = -1;
};

}  // namespace varnel::bench
