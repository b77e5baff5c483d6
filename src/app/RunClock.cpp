// Timing of uploads and programming runs.
#include "app/RunClock.h"

#include <cstdio>

namespace varnel {

void RunClock::Start(Run run, TimePoint at) {
  run_ = run;
  start_ = at;
  end_.reset();
}

void RunClock::MarkEnd() {
  if (run_ && !end_) end_ = Now();
}

std::string RunClock::Complete() {
  if (!run_) return {};
  const TimePoint end = end_ ? *end_ : Now();
  const Run run = *run_;
  run_.reset();
  return (run == Run::Upload ? "Uploaded in " : "Programmed in ") + DurationText(end - start_);
}

std::string RunClock::DurationText(std::chrono::steady_clock::duration duration) {
  using namespace std::chrono;
  const double seconds = std::max(0.0, std::chrono::duration<double>(duration).count());
  char text[32];
  if (seconds < 0.9995) {
    std::snprintf(text, sizeof text, "%.0f ms", seconds * 1000);
  } else if (seconds < 59.95) {
    std::snprintf(text, sizeof text, "%.1f s", seconds);
  } else {
    const long whole = static_cast<long>(seconds + 0.5);
    std::snprintf(text, sizeof text, "%ld:%02ld min", whole / 60, whole % 60);
  }
  return text;
}

}  // namespace varnel
