// Floors of the two line-bound runs: the exchanges of a CODE upload and of a
// 32 KB programming download, driven against the paced simulator by a bare
// loop over TComm that sends the next command the moment a reply is whole.
// No session, no sequence, no event loop: what a tool's run takes beyond
// these figures is its own cost. Bytes are counted as the tool's figures
// count them, every byte both ways at 10 bits each.
#if __has_include("target-sim/TargetSim.h") && __has_include("link/CommInt.h")

#include <poll.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <random>
#include <set>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "Bench.h"
#include "link/HexText.h"
#include "programming/ProgramFile.h"
#include "link/CommInt.h"
#include "target-sim/TargetSim.h"

namespace varnel::bench {
namespace {

using Clock = std::chrono::steady_clock;
constexpr int kBaud = 38400;

// Descriptors of this process open on the device.
std::set<int> DescriptorsOn(const std::string& device) {
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
  explicit BareLine(const std::string& device) {
    const std::set<int> before = DescriptorsOn(device);
    comm_.SetDeviceName(device);
    comm_.SetBaudRate(br38400);
    comm_.Open();
    for (int fd : DescriptorsOn(device)) {
      if (!before.count(fd)) fd_ = fd;
    }
    if (fd_ < 0) std::fprintf(stderr, "floor bench: the port's descriptor is unknown; polling\n");
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
    const auto deadline = Clock::now() + std::chrono::seconds(5);
    char buffer[4096];
    for (;;) {
      const int n = comm_.Read(buffer, sizeof buffer);
      if (n > 0) {
        bytes += n;
        if (terminators.find(buffer[n - 1]) != std::string_view::npos) return true;
        continue;
      }
      if (Clock::now() > deadline) return false;
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

double LineSeconds(long long bytes) { return static_cast<double>(bytes) * 10.0 / kBaud; }

std::vector<Figure> FloorUpload() {
  sim::TargetSimConfig config;
  config.variant = 5;
  config.paced = true;
  sim::TargetSim target(config);
  BareLine line(target.SlavePath());
  if (!line.WakeQuiet()) {
    std::fprintf(stderr, "floor bench: the simulator did not wake\n");
    return {};
  }
  line.bytes = 0;
  const auto start = Clock::now();
  for (unsigned address = 0; address <= 0x7FF0; address += 16) {
    if (!line.Exchange("CR" + HD16Prev(address))) {
      std::fprintf(stderr, "floor bench: no reply to CR%s\n", HD16Prev(address).c_str());
      return {};
    }
  }
  const double elapsed = std::chrono::duration<double>(Clock::now() - start).count();
  return {{"floor_upload_code_38400_ratio", elapsed / LineSeconds(line.bytes), ""}};
}

std::vector<Figure> FloorProgram() {
  std::vector<std::uint8_t> image(32768);
  std::mt19937 random(1210);
  for (auto& b : image) b = static_cast<std::uint8_t>(random());
  sim::TargetSimConfig config;
  config.paced = true;
  config.baud = kBaud;
  sim::TargetSim target(config);
  BareLine line(target.SlavePath());
  if (!line.WakeQuiet()) {
    std::fprintf(stderr, "floor bench: the simulator did not wake\n");
    return {};
  }
  line.bytes = 0;
  const auto start = Clock::now();
  // The simulated erase answers at once: there is no fixed wait to take out.
  bool ok = line.Exchange("M0000");
  for (unsigned address = 0; ok && address < image.size(); address += 16) {
    ok = line.Exchange((address == 0 ? "L" : "") + DataRecord(address, std::span(&image[address], 16)));
  }
  ok = ok && line.Exchange(":00000001FF");
  const double elapsed = std::chrono::duration<double>(Clock::now() - start).count();
  if (!ok || target.Read(sim::Memory::Code) != image) {
    std::fprintf(stderr, "floor bench: the download did not complete\n");
    return {};
  }
  return {{"floor_program_32k_38400_ratio", elapsed / LineSeconds(line.bytes), ""}};
}

Registrar floorUpload({"floor_upload_code_38400_ratio"}, FloorUpload);
Registrar floorProgram({"floor_program_32k_38400_ratio"}, FloorProgram);

}  // namespace
}  // namespace varnel::bench

#endif
