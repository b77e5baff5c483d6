// The boot loader as a byte-by-byte state machine: it takes the characters
// the host sends, one at a time, and tells its hooks what to echo, which
// commands arrived and what to answer. It owns the target's memories. No I/O
// and no locking here; TargetSim drives it from its line thread.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "target-sim/TargetSimConfig.h"

namespace varnel::sim {

enum class Memory { Code, ExtRam, Iram, Sfr, Config };

inline constexpr int kExtRamSize = 2048;
inline constexpr int kIramSize = 256;
inline constexpr int kSfrSize = 256;
inline constexpr int kConfigSize = 128;
inline constexpr int kConfigBase = 0x8000;  // the configuration page in code space
inline constexpr int kHcr1 = 0x7E;          // offsets in the configuration page
inline constexpr int kHcr0 = 0x7F;
inline constexpr std::uint8_t kEpma = 0x80;  // HCR0 bit that allows flash programming

class LoaderHooks {
 public:
  virtual ~LoaderHooks() = default;
  // A command or programming line arrived whole (or was cut short), exactly
  // as received. Returning false drops it: it is neither executed nor answered.
  virtual bool Admit(const std::string& command) = 0;
  // A received character the loader echoes.
  virtual void Echo(char c) = 0;
  // The loader's answer to the command just admitted.
  virtual void Reply(const std::string& text) = 0;
};

class BootLoader {
 public:
  explicit BootLoader(const TargetSimConfig& config);

  // A changed variant resizes the flash, keeping what fits.
  void SetConfig(const TargetSimConfig& config);
  const TargetSimConfig& Config() const { return config_; }

  // Power-on state: waiting for the carriage return that sets the rate,
  // echo as configured, command mode, SFRs at their reset values. Flash,
  // configuration page and RAM keep their contents.
  void Reset();

  // Rate the host set on the line; used when the config leaves the rate open.
  void SetLineBaud(int baud) { lineBaud_ = baud; }
  int EffectiveBaud() const;

  void Feed(char c, LoaderHooks& hooks);
  // No input for a while: a line that was being thrown away is over.
  void Idle();

  std::vector<std::uint8_t>& Mem(Memory memory);
  const std::vector<std::uint8_t>& Mem(Memory memory) const;

  bool AwaitingWake() const { return state_ == State::Reset; }
  bool EchoOn() const { return echo_; }
  bool InLineMode() const { return state_ == State::Line; }
  bool ConfigErasedSinceReset() const { return configErased_; }

 private:
  enum class State { Reset, Command, Line, Discard };

  void FeedCommand(char c, LoaderHooks& hooks);
  void FeedLine(char c, LoaderHooks& hooks);
  void Complete(LoaderHooks& hooks, bool bad);
  std::string Execute(const std::string& command);
  void FinishRecord(LoaderHooks& hooks);
  std::string ProgramRecord(const std::vector<std::uint8_t>& bytes);
  void LeaveLineMode(State next = State::Command);

  std::string Wake();
  std::string Block(int address, Memory memory) const;
  std::string EraseCommand(int address);
  std::string WriteCommand(int address, int value);
  bool ProgramByte(int address, std::uint8_t value);
  std::uint8_t CodeSpaceByte(int address) const;
  void SetBaudTimer();

  TargetSimConfig config_;
  int lineBaud_ = 0;
  std::vector<std::uint8_t> flash_;
  std::vector<std::uint8_t> extRam_;
  std::vector<std::uint8_t> iram_;
  std::vector<std::uint8_t> sfr_;
  std::vector<std::uint8_t> cfg_;

  State state_ = State::Reset;
  bool echo_ = true;
  bool echoWhenReceived_ = true;
  bool configErased_ = false;
  std::string raw_;      // the command as received
  std::string command_;  // the same, letters upper-cased
  // Line mode: the record in progress, its number in this download, whether
  // the download is refused, and the base of extended address records.
  std::string record_;
  int lineNumber_ = 0;
  bool refusing_ = false;
  // A record's own line end may follow it; it is no carriage return to answer.
  bool swallowLineEnd_ = false;
  std::int64_t addressBase_ = 0;
};

// Length of a whole command starting with these letters, 0 when the letters
// start no command, -1 when more letters are needed to tell.
int CommandLength(const std::string& letters);

}  // namespace varnel::sim
