// Playing a trace's target side: read what the host writes, match it against
// the trace, answer with the lines it read, in the trace's time.
#include "target-sim/replay/TraceReplay.h"

#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <optional>
#include <stdexcept>

#include "link/Trace.h"

namespace varnel::sim {
namespace {

// After the host leaves the trace, the rest of its write is waited for this
// long so that the report shows what it sent, not its first differing byte.
constexpr auto kCollect = std::chrono::milliseconds(100);
// Bytes of the host's write quoted in a report.
constexpr std::size_t kQuoted = 200;

std::string Quoted(std::string_view bytes) {
  std::string text = "\"" + TraceText(bytes.substr(0, kQuoted)) + "\"";
  if (bytes.size() > kQuoted) text += "...";
  return text;
}

}  // namespace

std::vector<TraceStep> ParseTrace(std::string_view text) {
  std::vector<TraceStep> steps;
  int number = 0;
  std::size_t at = 0;
  while (at < text.size()) {
    std::size_t end = text.find('\n', at);
    if (end == std::string_view::npos) end = text.size();
    std::string_view line = text.substr(at, end - at);
    at = end + 1;
    ++number;
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (line.find_first_not_of(" \t") == std::string_view::npos || line.front() == '#') continue;
    TraceStep step;
    TraceDirection direction;
    if (!ParseTraceLine(line, step.milliseconds, direction, step.bytes)) {
      throw std::invalid_argument("line " + std::to_string(number) +
                                  " is no trace line (\"12.345 > bytes\" or \"12.345 < bytes\"): " +
                                  std::string(line.substr(0, 80)));
    }
    step.line = number;
    step.fromHost = direction == TraceDirection::Sent;
    step.text = std::string(line);
    steps.push_back(std::move(step));
  }
  return steps;
}

TraceReplay::TraceReplay(std::vector<TraceStep> steps, std::string traceName)
    : steps_(std::move(steps)), traceName_(std::move(traceName)) {
  if (steps_.empty()) {
    state_ = State::Finished;
    report_ = traceName_ + " holds no line to play";
  }
  anchor_ = Clock::now();
  thread_ = std::thread(&TraceReplay::Run, this);
}

TraceReplay::~TraceReplay() { Stop(); }

void TraceReplay::Stop() {
  stopping_ = true;
  line_.Wake();
  if (thread_.joinable()) thread_.join();
  std::lock_guard lock(mutex_);
  if (diverging_) {
    Diverge();
  } else if (state_ == State::Playing) {
    const TraceStep& step = steps_[next_];
    report_ = "the replay stopped at line " + std::to_string(step.line) + " of " + traceName_ +
              " (" + std::to_string(next_) + " of " + std::to_string(steps_.size()) +
              " lines played):\n  line " + std::to_string(step.line) + ": " + step.text;
    if (step.fromHost) {
      report_ += "\n  expected " + Quoted(step.bytes) + "\n  received " +
                 (matched_ + input_.size() > 0 ? Quoted(step.bytes.substr(0, matched_) + input_)
                                               : std::string("nothing"));
    }
    state_ = State::Stopped;
  }
  changed_.notify_all();
}

TraceReplay::State TraceReplay::Result() const {
  std::lock_guard lock(mutex_);
  return state_;
}

bool TraceReplay::WaitUntilPlayed(std::chrono::milliseconds timeout) const {
  std::unique_lock lock(mutex_);
  return changed_.wait_for(lock, timeout, [this] { return state_ != State::Playing; });
}

std::string TraceReplay::Report() const {
  std::lock_guard lock(mutex_);
  return report_;
}

std::size_t TraceReplay::LinesPlayed() const {
  std::lock_guard lock(mutex_);
  return next_;
}

void TraceReplay::SetLogger(std::function<void(const TraceStep&)> logger) {
  std::lock_guard lock(mutex_);
  logger_ = std::move(logger);
}

// When line `step`, one the host read, is due: as long after the line before
// it as the trace says. The first line is due at once.
TraceReplay::Clock::time_point TraceReplay::Due(std::size_t step) const {
  if (step == 0) return anchor_;
  // A file's times are any numbers: a gap beyond a day is waited as a day,
  // which the clock can still count.
  constexpr double kLongestGapMs = 24.0 * 3600 * 1000;
  const double gap = std::clamp(steps_[step].milliseconds - steps_[step - 1].milliseconds, 0.0,
                                kLongestGapMs);
  return anchor_ + std::chrono::duration_cast<Clock::duration>(
                       std::chrono::duration<double, std::milli>(gap));
}

void TraceReplay::Run() {
  char buffer[4096];
  while (!stopping_) {
    int timeoutMs = -1;
    {
      std::lock_guard lock(mutex_);
      if (state_ == State::Diverged) break;
      std::optional<Clock::time_point> due;
      if (diverging_) {
        due = divergedAt_ + kCollect;
      } else if (state_ == State::Playing && !steps_[next_].fromHost) {
        due = Due(next_);
      }
      if (due) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(*due - Clock::now());
        timeoutMs = static_cast<int>(std::max<long long>(0, left.count()));
      }
    }
    pollfd fds[2] = {{line_.Master(), POLLIN, 0}, {line_.WakeFd(), POLLIN, 0}};
    const int ready = poll(fds, 2, timeoutMs);
    if (ready < 0 && errno != EINTR) break;
    if (fds[1].revents != 0) break;
    if (fds[0].revents & POLLIN) {
      const ssize_t n = read(line_.Master(), buffer, sizeof buffer);
      if (n > 0) {
        std::lock_guard lock(mutex_);
        input_.append(buffer, static_cast<std::size_t>(n));
      }
    } else if (fds[0].revents != 0) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));  // a passing hang-up
    }
    Advance();
  }
}

// Plays every line that can be played now.
void TraceReplay::Advance() {
  for (;;) {
    const TraceStep* played = nullptr;
    std::function<void(const TraceStep&)> logger;
    {
      std::lock_guard lock(mutex_);
      if (state_ == State::Diverged || state_ == State::Stopped) return;
      if (diverging_) {
        if (Clock::now() - divergedAt_ < kCollect && input_.size() < kQuoted) return;
        Diverge();
        changed_.notify_all();
        return;
      }
      if (next_ == steps_.size()) {
        if (input_.empty()) return;
        diverging_ = true;
        divergedAt_ = Clock::now();
        continue;
      }
      const TraceStep& step = steps_[next_];
      if (step.fromHost) {
        if (input_.empty()) return;
        const std::size_t n = std::min(input_.size(), step.bytes.size() - matched_);
        if (input_.compare(0, n, step.bytes, matched_, n) != 0) {
          diverging_ = true;
          divergedAt_ = Clock::now();
          continue;
        }
        input_.erase(0, n);
        matched_ += n;
        if (matched_ < step.bytes.size()) return;
        matched_ = 0;
        anchor_ = Clock::now();
      } else if (Clock::now() < Due(next_)) {
        return;
      }
      played = &step;
      logger = logger_;
    }
    if (!played->fromHost) {
      if (!line_.WriteAll(played->bytes.data(), played->bytes.size())) return;
      std::lock_guard lock(mutex_);
      anchor_ = Clock::now();
    }
    {
      std::lock_guard lock(mutex_);
      if (state_ != State::Playing) return;
      if (++next_ == steps_.size()) {
        state_ = State::Finished;
        report_ = "all " + std::to_string(steps_.size()) + " lines of " + traceName_ + " played";
        changed_.notify_all();
      }
    }
    if (logger) logger(*played);
  }
}

// Called with the lock held, once the host's differing write is in.
void TraceReplay::Diverge() {
  diverging_ = false;
  state_ = State::Diverged;
  if (next_ == steps_.size()) {
    report_ = "the host wrote on after the last line of " + traceName_ + " (line " +
              std::to_string(steps_.empty() ? 0 : steps_.back().line) +
              "):\n  expected nothing\n  received " + Quoted(input_);
    return;
  }
  const TraceStep& step = steps_[next_];
  report_ = "the host left the trace at line " + std::to_string(step.line) + " of " +
            traceName_ + ":\n  line " + std::to_string(step.line) + ": " + step.text +
            "\n  expected " + Quoted(step.bytes) + "\n  received " +
            Quoted(step.bytes.substr(0, matched_) + input_);
}

}  // namespace varnel::sim
