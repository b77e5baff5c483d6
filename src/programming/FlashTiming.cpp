// The flash timing register writes and the discarding of their replies.
#include "programming/FlashTiming.h"

#include <algorithm>
#include <cmath>

#include "link/Commands.h"
#include "core/Session.h"

namespace varnel {
namespace {

// The drain never holds the run longer than this, even on a chattering line.
constexpr int kTimingDrainMaxMs = 10000;

// How long the line must stay silent before the writes' replies count as
// all received: a few characters at the current rate, never less than 30 ms.
// Measured on the clock, not by counting waits.
int TimingQuietMs(const Session& session) {
  constexpr int kMinQuietMs = 30;
  constexpr int kQuietCharacters = 16;
  const CommPort* port = session.Port();
  const int baud = port ? BaudRateValue(port->BaudRate()) : 0;
  const int charMs = baud > 0 ? (10 * 1000 + baud - 1) / baud : 100;
  return std::max(kMinQuietMs, kQuietCharacters * charMs);
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

std::int32_t FlashTimingClock(const Session& session) {
  const std::int32_t crystal = session.ProjectSettings.CrystalHz;
  return crystal > 0 ? crystal : session.CoreClockHz;
}

void SetupFlashTime(Session& session) {
  session.ShowReceiveCount(true);
  for (const std::string& command : FlashTimingCommands(FlashTimingClock(session))) {
    session.SendString(command);
    session.Ui().Sleep(kFlashTimingGapMs);
  }
  // Their replies are thrown away, also those still under way when the last
  // wait ends, so the first erase handler sees only its own reply.
  session.DrainLine(TimingQuietMs(session), kTimingDrainMaxMs);
  session.ClearRx();
  session.Ui().SetStatusPanel(Session::kStatusReceive, "");
  session.ShowReceiveCount(false);
}

}  // namespace varnel
