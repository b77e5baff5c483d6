// How long the last completed upload or programming run took, for the
// second status panel: started when a command starts a run, stopped when
// its work is done, shown only when the run completed.
#pragma once

#include <chrono>
#include <functional>
#include <optional>
#include <string>

namespace varnel {

class RunClock {
 public:
  using TimePoint = std::chrono::steady_clock::time_point;
  using Clock = std::function<TimePoint()>;
  enum class Run { Upload, Programming };

  explicit RunClock(Clock now = [] { return std::chrono::steady_clock::now(); })
      : now_(std::move(now)) {}

  TimePoint Now() const { return now_(); }
  // A run started at the given time (taken before its command ran).
  void Start(Run run, TimePoint at);
  void Start(Run run) { Start(run, Now()); }
  std::optional<Run> Current() const { return run_; }
  // The run's work is done; what follows (a notice on screen) is not timed.
  void MarkEnd();
  // Stopped, refused or failed: nothing to show.
  void Abandon() { run_.reset(); }
  // The run completed: the status text ("Uploaded in 3.2 s"), or empty when
  // no run was being timed.
  std::string Complete();

  // "85 ms" below a second, "3.2 s" below a minute, "2:05 min" from there on.
  static std::string DurationText(std::chrono::steady_clock::duration duration);

 private:
  Clock now_;
  std::optional<Run> run_;
  TimePoint start_{};
  std::optional<TimePoint> end_;
};

}  // namespace varnel
