// The target's side of a recorded serial trace, played on a pseudo-terminal:
// each line the host wrote (">") is waited for byte by byte, each line it
// read ("<") is sent back as long after the line before it as the trace
// says. A host that writes anything else ends the replay with a report of
// where it left the trace. The replay runs on its own thread from
// construction until Stop(); every public member is safe from any thread.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "target-sim/PtyLine.h"

namespace varnel::sim {

struct TraceStep {
  int line = 0;  // in the trace file, from 1
  double milliseconds = 0;
  bool fromHost = false;  // ">": the host wrote it; "<": the host read it
  std::string bytes;
  std::string text;  // the line as the file holds it
};

// Reads a trace as varnel-cli --trace and the trace window's "Save..."
// write it, one chunk a line ("12.345 > CR0010"); blank lines and lines
// starting with "#" are passed over. Throws std::invalid_argument naming the
// first line that is none of these.
std::vector<TraceStep> ParseTrace(std::string_view text);

class TraceReplay {
 public:
  enum class State {
    Playing,   // lines are left to play
    Finished,  // every line played; anything the host writes now diverges
    Diverged,  // the host wrote something the trace does not hold
    Stopped,   // stopped before the end
  };

  // traceName names the trace in reports. Throws std::runtime_error when no
  // pseudo-terminal can be had.
  TraceReplay(std::vector<TraceStep> steps, std::string traceName);
  ~TraceReplay();
  TraceReplay(const TraceReplay&) = delete;
  TraceReplay& operator=(const TraceReplay&) = delete;

  // Device path of the slave side, the host's port.
  const std::string& SlavePath() const { return line_.SlavePath(); }

  // Ends the thread; a replay still playing becomes Stopped.
  void Stop();
  State Result() const;
  // Waits until the replay is no longer Playing; false on time-out.
  bool WaitUntilPlayed(std::chrono::milliseconds timeout) const;
  // What happened, for the user: where the host left the trace, what the
  // trace expected there and what came instead; where a stopped replay
  // stood; or that every line was played.
  std::string Report() const;
  std::size_t LinesPlayed() const;

  // Called on the replay's thread for every line played; set it before the
  // host starts talking.
  void SetLogger(std::function<void(const TraceStep&)> logger);

 private:
  using Clock = std::chrono::steady_clock;

  void Run();
  void Advance();
  void Diverge();
  Clock::time_point Due(std::size_t step) const;

  const std::vector<TraceStep> steps_;
  const std::string traceName_;
  PtyLine line_;

  mutable std::mutex mutex_;
  mutable std::condition_variable changed_;
  State state_ = State::Playing;
  std::size_t next_ = 0;     // the line to play next
  std::size_t matched_ = 0;  // bytes of a host line seen so far
  std::string input_;        // bytes from the host not yet matched
  std::string report_;
  std::function<void(const TraceStep&)> logger_;

  // Replay thread only.
  Clock::time_point anchor_;      // when the line before next_ was played
  Clock::time_point divergedAt_;  // a divergence seen, its bytes still coming
  bool diverging_ = false;
  std::atomic<bool> stopping_{false};
  std::thread thread_;
};

}  // namespace varnel::sim
