// The flash timing register writes and the discarding of their replies.
#include "programming/FlashTiming.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <vector>

#include "link/Commands.h"
#include "core/Session.h"

namespace varnel {
namespace {

// Poll step while draining, and how long the line must stay silent before
// the writes' replies count as all received: a few characters at the
// current rate, never less than kMinQuietMs. Measured on the clock, not by
// counting waits, so it holds whatever a wait of the window really does.
constexpr int kDrainStepMs = 5;
constexpr int kMinQuietMs = 30;
constexpr int kQuietCharacters = 16;
// The drain never holds the run longer than this, even on a chattering line.
constexpr int kMaxDrainMs = 10000;

using Clock = std::chrono::steady_clock;

int QuietMs(const CommPort& port) {
  const int baud = BaudRateValue(port.BaudRate());
  const int charMs = baud > 0 ? (10 * 1000 + baud - 1) / baud : 100;
  return std::max(kMinQuietMs, kQuietCharacters * charMs);
}

// Reads and forgets whatever the port has received until the line has been
// silent for QuietMs.
void DrainReplies(Session& session) {
  CommPort* port = session.Port();
  if (!session.PortOpen || !port || !port->IsOpen()) return;
  std::vector<char> buffer(static_cast<std::size_t>(std::max(port->ReadBufSize(), 1)));
  const auto quiet = std::chrono::milliseconds(QuietMs(*port));
  const auto start = Clock::now();
  auto lastTraffic = start;
  for (;;) {
    const auto now = Clock::now();
    if (now - lastTraffic >= quiet || now - start >= std::chrono::milliseconds(kMaxDrainMs)) {
      return;
    }
    if (port->Read(buffer.data(), static_cast<int>(buffer.size())) > 0) {
      lastTraffic = Clock::now();
      continue;  // read again at once: more may be waiting
    }
    // A window whose waits let the receive path run collects the replies
    // in RxBuffer instead; they count as traffic all the same.
    session.Ui().Sleep(kDrainStepMs);
    if (!session.RxBuffer.empty()) {
      session.RxBuffer.clear();
      lastTraffic = Clock::now();
    }
  }
}

}  // namespace

double RoundHalfEven(double value) {
  const double lower = std::floor(value);
  const double diff = value - lower;
  if (diff < 0.5) return lower;
  if (diff > 0.5) return lower + 1.0;
  return std::fmod(lower, 2.0) == 0.0 ? lower : lower + 1.0;
}

std::array<std::string, 4> FlashTimingCommands(std::int32_t coreClockHz) {
  const double mhz = static_cast<double>(coreClockHz) / 1000000.0;
  // u and r are rounded separately: they differ when the clock lies exactly
  // halfway between two whole MHz.
  const auto u = static_cast<std::int32_t>(RoundHalfEven(mhz - 1.0));
  const auto r = static_cast<std::int32_t>(RoundHalfEven(mhz));
  const std::int32_t m = r * 1000 - 1;
  return {cmd::WriteSfr(0xEF, 0xA5), cmd::WriteSfr(0xFB, u % 256),
          cmd::WriteSfr(0xFC, m % 256), cmd::WriteSfr(0xFD, m / 256)};
}

void SetupFlashTime(Session& session) {
  session.ShowReceiveCount(true);
  for (const std::string& command : FlashTimingCommands(session.CoreClockHz)) {
    session.SendString(command);
    session.Ui().Sleep(kFlashTimingGapMs);
  }
  DrainReplies(session);
  session.RxBuffer.clear();
  session.Ui().SetStatusPanel(Session::kStatusReceive, "");
  session.ShowReceiveCount(false);
}

}  // namespace varnel
