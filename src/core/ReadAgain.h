// Damaged read replies are asked for again. After a damaged reply the line
// must first go quiet: the rest of a reply cut short by a false terminator
// is still coming and must not be taken as the reply to the repeat. A
// command gets kTries replies in all; when every one was damaged the run
// ends with DamagedReplyText.
#pragma once

#include <cstdint>
#include <string>

#include "core/Memories.h"

namespace varnel {

class Session;

class ReadAgain {
 public:
  static constexpr int kTries = 3;
  // Least quiet time before the repeat: longer than a USB adapter holds
  // back the rest of a reply (16 ms at most by default); at slow rates a
  // long reply's line time counts.
  static constexpr int kQuietMs = 20;
  static constexpr int kDrainMaxMs = 1000;

  explicit ReadAgain(Session& session) : s_(session) {}

  // A damaged reply to the pending command, fault saying what was wrong.
  // True: the line went quiet and the command went out again. False: that
  // was its last try; Tries() and Fault() then describe it.
  bool AskAgain(const std::string& fault);
  // The same for a command the caller sends itself (the handshake's): true
  // when it may go out again, the line now quiet and nothing pending.
  bool QuietForRepeat(const std::string& command, const std::string& fault);
  // A good reply, or a new run: the next command has all its tries.
  void Reset();

  int Tries() const { return tries_; }
  const std::string& Fault() const { return fault_; }

 private:
  Session& s_;
  std::string command_;  // the command the tries belong to
  int tries_ = 0;        // damaged replies to it so far
  std::string fault_;
};

// The end of a run whose command stayed damaged: the memory, the address
// (image offset) and what was wrong with the last reply.
std::string DamagedReplyText(MemoryKind kind, std::int32_t address, int tries,
                             const std::string& fault);

// "2 damaged replies read again"; empty for none.
std::string ReadAgainText(std::uint64_t count);

}  // namespace varnel
