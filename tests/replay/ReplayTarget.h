// The target's side of a recorded conversation, played on the master side of
// a real pseudo-terminal by a thread of its own: when the bytes the host
// wrote match the next recorded command, the recorded reply goes back. The
// host's port (the real TComm on the slave side) reports every read to a
// LineWatch, so the replay can hand over one piece at a time and know that
// the host took each piece as a read of its own.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "link/Trace.h"
#include "replay/Conversation.h"
#include "support/Pty.h"

namespace varnel::testing {

// The host port's trace tap: counts what the host read and keeps the last
// chunks for a failure's message.
class LineWatch : public TraceTap {
 public:
  void Chunk(TraceDirection direction, std::string_view bytes) override {
    (direction == TraceDirection::Received ? read_ : written_) += bytes.size();
    log_.Chunk(direction, bytes);
  }
  std::uint64_t BytesRead() const { return read_; }
  std::uint64_t BytesWritten() const { return written_; }
  // The last chunks both ways (main thread only).
  std::string Tail() const { return log_.Text(); }

 private:
  std::atomic<std::uint64_t> read_{0}, written_{0};
  TraceLog log_{40};
};

class ReplayTarget {
 public:
  enum class Pieces {
    AsRecorded,    // each chunk as the port read it in the live run
    ByteByByte,    // every byte a read of its own
    WholeReplies,  // all chunks of one reply in one piece
  };

  // played: the replies sent the first time each command comes (the same
  // exchanges as script, possibly damaged); a command the host sends again
  // gets the recorded reply. The line must be watched by watch.
  ReplayTarget(const Pty& pty, const LineWatch& watch, std::vector<Exchange> script,
               Pieces pieces, std::vector<Exchange> played = {});
  ~ReplayTarget();
  ReplayTarget(const ReplayTarget&) = delete;
  ReplayTarget& operator=(const ReplayTarget&) = delete;

  // Nothing more will come unless the host writes: the replay waits for a
  // command (or has given up on the host), each side has taken every byte the
  // other wrote, and neither did anything for quietMs.
  bool Quiet(int quietMs = 20) const;
  // Every recorded exchange was played.
  bool Finished() const;
  std::size_t Played() const;
  std::size_t Repeats() const;
  // Empty while the host followed the recording; otherwise where it left it
  // and what it wrote instead.
  std::string Divergence() const;

 private:
  using Clock = std::chrono::steady_clock;
  void Run();
  void Answer(std::string& input);
  void Play(const std::vector<std::string>& replies);
  void WriteAll(const std::string& piece);
  void AwaitHostRead();

  const Pty& pty_;
  const LineWatch& watch_;
  const std::vector<Exchange> script_;
  const std::vector<Exchange> played_;
  const Pieces pieces_;

  mutable std::mutex mutex_;
  std::size_t next_ = 0;  // the exchange whose command is awaited
  std::size_t repeats_ = 0;
  bool playing_ = false;
  bool diverged_ = false;
  std::string divergence_;
  std::uint64_t written_ = 0;  // what the host must have read before the next piece
  std::uint64_t taken_ = 0;    // what the replay read of the host's writes
  Clock::time_point lastActivity_ = Clock::now();
  std::atomic<bool> stopping_{false};
  std::thread thread_;
};

}  // namespace varnel::testing
