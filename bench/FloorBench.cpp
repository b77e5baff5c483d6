// Floors of the two line-bound runs: the exchanges of a CODE upload and of a
// 32 KB programming download, driven against the paced simulator by a bare
// loop over TComm that sends the next command the moment a reply is whole.
// No session, no sequence, no event loop: what a tool's run takes beyond
// these figures is its own cost. Bytes are counted as the tool's figures
// count them, every byte both ways at 10 bits each.
#if __has_include("target-sim/TargetSim.h") && __has_include("link/CommInt.h")


#include <chrono>
#include <cstdio>
#include <random>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "BareLine.h"
#include "Bench.h"
#include "link/HexText.h"
#include "programming/ProgramFile.h"
#include "link/CommInt.h"
#include "target-sim/TargetSim.h"

namespace varnel::bench {
namespace {

using Clock = std::chrono::steady_clock;
constexpr int kBaud = 38400;


double LineSeconds(long long bytes) { return static_cast<double>(bytes) * 10.0 / kBaud; }

std::vector<Figure> FloorUpload() {
  sim::TargetSimConfig config;
  config.variant = 5;
  config.paced = true;
  sim::TargetSim target(config);
  BareLine line(target.SlavePath(), br38400);
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
  BareLine line(target.SlavePath(), br38400);
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
