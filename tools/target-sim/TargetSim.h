// A simulated MSC1210 serial boot loader on a pseudo-terminal. The loader
// runs on its own thread from construction until Stop() (or a hang-up); the
// host opens SlavePath() like any serial port. Every public member is safe to
// call from any thread while the loader runs.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <random>
#include <span>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "target-sim/BootLoader.h"
#include "target-sim/PtyLine.h"
#include "target-sim/TargetSimConfig.h"

namespace varnel::sim {

class TargetSim {
 public:
  // Opens the pseudo-terminal and starts the loader in its reset state.
  // Throws std::runtime_error when no pseudo-terminal can be had.
  explicit TargetSim(const TargetSimConfig& config = {});
  ~TargetSim();
  TargetSim(const TargetSim&) = delete;
  TargetSim& operator=(const TargetSim&) = delete;

  // Device path of the slave side, e.g. /dev/pts/7; a new one after an
  // Unplug and PutNew.
  std::string SlavePath() const;

  // Ends the loader thread; the pseudo-terminal stays open until destruction.
  void Stop();
  // False once stopped or hung up (an unplugged board is neither: a new
  // one can come).
  bool Running() const { return running_; }
  // The line was closed by the hang-up fault.
  bool HungUp() const { return hungUp_; }

  // Back to the power-on state (waiting for the first carriage return).
  void Reset();
  // The board taken off the line: nothing received is answered.
  void TakeAway();
  // The board and its adapter pulled off the host: the pseudo-terminal is
  // closed, so the host's reads and writes on it fail (EIO) as on a USB
  // adapter that is unplugged. The loader thread ends until PutNew.
  void Unplug();
  // A new board on the line: fresh memories, in its power-on state, its
  // commands counted from zero again. Ends a TakeAway; after an Unplug it
  // comes on a new pseudo-terminal (SlavePath changes).
  void PutNew();
  bool Away() const { return away_; }
  bool Unplugged() const { return unplugged_; }

  // Options, readable and switchable while running; they apply from the
  // next character received.
  TargetSimConfig Config() const;
  void SetConfig(const TargetSimConfig& config);
  void Modify(const std::function<void(TargetSimConfig&)>& change);

  // What the host sent. The transcript holds every command and programming
  // line exactly as received, one entry each (the most recent kKeep of
  // them); Received() holds every byte, skipped ones included.
  static constexpr std::size_t kKeep = 1 << 16;
  std::vector<std::string> Transcript() const;
  std::string Received() const;
  // Commands received since start, also those cleared from the transcript.
  std::size_t CommandCount() const;
  void ClearTranscript();
  // Waits until CommandCount() reaches count; false on time-out.
  bool WaitForCommands(std::size_t count, std::chrono::milliseconds timeout) const;

  // Memories as the loader sees them, and preloading them.
  std::vector<std::uint8_t> Read(Memory memory) const;
  void Load(Memory memory, std::size_t offset, std::span<const std::uint8_t> bytes);
  void Fill(Memory memory, std::uint8_t value);
  // All memories as a hex-dump text, one section each.
  std::string DumpText() const;

  // Loader state.
  bool EchoOn() const;
  bool InLineMode() const;

  // Called on the loader thread for every command ("in") and reply ("out");
  // for a log. Set it before the host starts talking.
  void SetLogger(std::function<void(std::string_view direction, std::string_view text)> logger);

 private:
  struct Output {
    bool reply;  // false: echo
    std::string text;
    bool nul;
    std::size_t splitAt = 0;  // >0: sent in two pieces, the first this long
  };
  class Hooks;

  using Clock = std::chrono::steady_clock;

  void Run();
  void StartLoader();
  bool Paced(int& baud);
  void Take(const char* data, std::size_t size, Clock::time_point now, int baud);
  Clock::time_point NextArrival() const;
  void ReceiveDue();
  void ReceiveAll();
  // ready: when the bytes fed were through the receiver, so the answer can
  // start on the wire no earlier.
  void Feed(const char* data, std::size_t size, Clock::time_point ready);
  void Emit(const std::vector<Output>& outputs, Clock::time_point ready);
  // Sends one reply, in pieces when the options say so; false when stopped.
  bool SendReply(std::string_view bytes, Clock::time_point& ready, const TargetSimConfig& c);
  // With the lock held: the reply as the noisy line delivers it.
  void Damage(Output& reply);
  void SeedDamage();
  void Send(std::string_view bytes, Clock::time_point ready);
  bool WriteAll(const char* data, std::size_t size);
  bool Sleep(Clock::duration duration);
  bool SleepExactly(Clock::time_point due);
  bool Muted() const;
  void HangUp();

  mutable std::mutex mutex_;
  mutable std::condition_variable commandsArrived_;
  TargetSimConfig config_;
  BootLoader loader_;
  std::vector<std::string> transcript_;
  std::string received_;
  std::size_t commandCount_ = 0;
  bool nulPending_ = false;
  bool damageDue_ = false;      // the reply to the command just admitted may be damaged
  std::mt19937 damageRandom_;
  unsigned damageSeed_ = 0;     // the seed damageRandom_ was started with
  bool damageSeeded_ = false;
  bool hangUpPending_ = false;
  std::function<void(std::string_view, std::string_view)> logger_;

  // The UART, when paced (loader thread only). Bytes read from the pty wait
  // in the inbox until they would have come in at the line rate: byte k of
  // a burst arrives k+1 byte times after the burst could begin, which is
  // when its first byte was read or, were the receiver still busy, when the
  // byte before it was through. The transmitter likewise starts each
  // output once the one before it is off the wire. The pty is not read
  // while an output goes out, so bytes a host sends ahead then are timed
  // from when it is out, as by a loader that reads its line only between
  // answers.
  std::string inbox_;
  std::size_t inboxHead_ = 0;
  Clock::time_point burstStart_{};
  long long burstBytes_ = 0;  // bytes of the burst received so far
  int burstBaud_ = 0;
  Clock::time_point receiverFree_{};
  Clock::time_point transmitterFree_{};

  PtyLine line_;
  std::atomic<bool> running_{false};
  std::atomic<bool> hungUp_{false};
  std::atomic<bool> stopping_{false};
  std::atomic<bool> away_{false};
  std::atomic<bool> unplugged_{false};
  mutable std::mutex pathMutex_;  // the slave path changes on a replug
  std::string slavePath_;
  std::thread thread_;
};

}  // namespace varnel::sim
