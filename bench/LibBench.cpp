// libvarnel against the floor at 115200 baud: a 32 KB programming download
// and a CODE upload through the library's Target, each over the time a bare
// loop takes for the same exchanges on the same paced simulator; and the
// Python module's programming run over the C++ API's.
#if __has_include(<varnel/varnel.h>) && __has_include("target-sim/TargetSim.h")


#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <span>
#include <string>
#include <vector>

#include <varnel/varnel.h>

#include "BareLine.h"
#include "Bench.h"
#include "link/CommInt.h"
#include "link/HexText.h"
#include "target-sim/TargetSim.h"

namespace varnel::bench {
namespace {

using Clock = std::chrono::steady_clock;
constexpr int kFastBaud = 115200;

double Since(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

std::vector<std::uint8_t> Image32k() {
  std::vector<std::uint8_t> image(32768);
  std::mt19937 random(1210);
  for (auto& b : image) b = static_cast<std::uint8_t>(random());
  return image;
}

sim::TargetSimConfig Paced() {
  sim::TargetSimConfig config;
  config.paced = true;
  config.baud = kFastBaud;
  return config;
}


std::string Record(unsigned address, std::span<const std::uint8_t> data) {
  std::string text = ":10" + HD16Prev(address) + "00";
  unsigned sum = 0x10 + (address >> 8) + (address & 0xFF);
  for (std::uint8_t b : data) {
    text += HDPrev(b);
    sum += b;
  }
  return text + HDPrev(static_cast<std::uint8_t>(0x100 - (sum & 0xFF))) + "\r\n";
}

double FloorProgram(const std::vector<std::uint8_t>& image) {
  sim::TargetSim target(Paced());
  BareLine line(target.SlavePath(), br115200);
  if (!line.WakeQuiet()) return 0;
  const auto start = Clock::now();
  bool ok = line.Exchange("M0000");
  for (unsigned a = 0; ok && a < image.size(); a += 16) {
    ok = line.Exchange((a == 0 ? "L" : "") + Record(a, std::span(&image[a], 16)));
  }
  ok = ok && line.Exchange(":00000001FF\r\n");
  const double seconds = Since(start);
  return ok && target.Read(sim::Memory::Code) == image ? seconds : 0;
}

double FloorUpload() {
  sim::TargetSim target(Paced());
  BareLine line(target.SlavePath(), br115200);
  if (!line.WakeQuiet()) return 0;
  const auto start = Clock::now();
  for (unsigned a = 0; a <= 0x7FF0; a += 16) {
    if (!line.Exchange("CR" + HD16Prev(a))) return 0;
  }
  return Since(start);
}

TargetOptions Fast() {
  TargetOptions o;
  o.baud = kFastBaud;
  return o;
}

// The same steps as the floor: the flash erased, the records, the end record.
ProgramOptions SameSteps() {
  ProgramOptions o;
  o.erase_config = false;
  o.write_config = false;
  return o;
}

double LibraryProgram(const std::vector<std::uint8_t>& image) {
  sim::TargetSim target(Paced());
  Target t(target.SlavePath(), Fast());
  t.connect();
  const Image program = Image::from_bytes(image);
  const auto start = Clock::now();
  t.program(program, SameSteps());
  const double seconds = Since(start);
  return target.Read(sim::Memory::Code) == image ? seconds : 0;
}

double LibraryUpload() {
  sim::TargetSim target(Paced());
  Target t(target.SlavePath(), Fast());
  t.connect();
  const auto start = Clock::now();
  const std::vector<std::uint8_t> code = t.read(Memory::Code, 0, 0x7FFF);
  return code.size() == 32768 ? Since(start) : 0;
}

std::vector<Figure> Ratio(const char* name, double tool, double floor) {
  if (tool <= 0 || floor <= 0) {
    std::fprintf(stderr, "lib bench: %s: a run did not complete\n", name);
    return {};
  }
  std::fprintf(stderr, "lib bench: %s: %.3f s over %.3f s\n", name, tool, floor);
  return {{name, tool / floor, ""}};
}

Registrar program({"program_32k_115200_vs_floor"}, [] {
  const std::vector<std::uint8_t> image = Image32k();
  return Ratio("program_32k_115200_vs_floor", LibraryProgram(image), FloorProgram(image));
});

Registrar upload({"upload_code_115200_vs_floor"}, [] {
  return Ratio("upload_code_115200_vs_floor", LibraryUpload(), FloorUpload());
});

#if defined(VARNEL_PYTHON) && defined(VARNEL_PYTHON_DIR)
// The module's run, timed inside Python around the call, as the C++ one is.
double PythonProgram() {
  sim::TargetSim target(Paced());
  const std::string script =
      "import random, time, varnel\n"
      "r = random.Random(1210)\n"
      "img = varnel.Image.from_bytes(bytes(r.randrange(256) for _ in range(32768)))\n"
      "with varnel.Target('" + target.SlavePath() + "', baud=115200) as t:\n"
      "    t.connect()\n"
      "    start = time.perf_counter()\n"
      "    t.program(img, erase_config=False, write_config=False)\n"
      "    print(time.perf_counter() - start)\n";
  const std::string command = std::string("PYTHONPATH=") + VARNEL_PYTHON_DIR + " " +
                              VARNEL_PYTHON + " -c \"" + script + "\"";
  FILE* out = ::popen(command.c_str(), "r");
  if (!out) return 0;
  double seconds = 0;
  if (std::fscanf(out, "%lf", &seconds) != 1) seconds = 0;
  return ::pclose(out) == 0 ? seconds : 0;
}

Registrar python({"python_program_32k_vs_cpp"}, [] {
  return Ratio("python_program_32k_vs_cpp", PythonProgram(), LibraryProgram(Image32k()));
});
#endif

}  // namespace
}  // namespace varnel::bench

#endif
