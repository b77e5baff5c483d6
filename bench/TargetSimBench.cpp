// Figures of the boot-loader simulator: how fast it answers a block read
// unpaced, and how closely its paced output follows the line rate.
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <vector>

#include "Bench.h"
#include "target-sim/TargetSim.h"

namespace varnel::bench {
namespace {

using Clock = std::chrono::steady_clock;

// Sends a command and reads until the reply's prompt; microseconds taken.
double Exchange(int fd, const std::string& command) {
  const auto start = Clock::now();
  if (write(fd, command.data(), command.size()) != static_cast<ssize_t>(command.size())) return -1;
  std::string reply;
  while (reply.empty() || reply.back() != '>') {
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, 5000) <= 0) return -1;
    char buffer[256];
    const ssize_t n = read(fd, buffer, sizeof buffer);
    if (n <= 0) return -1;
    reply.append(buffer, static_cast<std::size_t>(n));
  }
  return std::chrono::duration<double, std::micro>(Clock::now() - start).count();
}

int OpenHost(const std::string& path, speed_t speed) {
  const int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
  termios settings{};
  tcgetattr(fd, &settings);
  cfmakeraw(&settings);
  cfsetspeed(&settings, speed);
  tcsetattr(fd, TCSANOW, &settings);
  return fd;
}

std::vector<Figure> SimFigures() {
  sim::TargetSimConfig config;
  config.echo = false;
  std::vector<double> times;
  {
    sim::TargetSim target(config);
    const int fd = OpenHost(target.SlavePath(), B38400);
    Exchange(fd, "\r");
    for (int i = 0; i < 500; ++i) times.push_back(Exchange(fd, "CR0000"));
    close(fd);
  }
  std::sort(times.begin(), times.end());

  // A block read is 6 bytes in and 52 out (CR LF, 16 pairs with blanks,
  // CR LF, ">"), each direction paced.
  config.paced = true;
  double paced = 0;
  constexpr int kPacedBlocks = 5;
  {
    sim::TargetSim target(config);
    const int fd = OpenHost(target.SlavePath(), B9600);
    Exchange(fd, "\r");
    for (int i = 0; i < kPacedBlocks; ++i) paced += Exchange(fd, "CR0000") / 1000.0;
    close(fd);
  }
  const double expectedMs = (6 + 52) * 10 * 1000.0 / 9600;
  return {{"sim_block_exchange_us_median", times[times.size() / 2], "us"},
          {"sim_paced_block_9600_ms", paced / kPacedBlocks, "ms"},
          {"sim_paced_rate_ratio", expectedMs / (paced / kPacedBlocks), ""}};
}

Registrar simFigures({"sim_block_exchange_us_median", "sim_paced_block_9600_ms", "sim_paced_rate_ratio"},
                     SimFigures);

}  // namespace
}  // namespace varnel::bench
