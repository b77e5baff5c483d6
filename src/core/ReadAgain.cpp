// Asking again after a damaged reply.
#include "core/ReadAgain.h"

#include <algorithm>

#include "core/Session.h"
#include "link/HexText.h"

namespace varnel {

bool ReadAgain::AskAgain(const std::string& fault) {
  const std::string command = s_.LastCommand.str();
  if (!QuietForRepeat(command, fault)) return false;
  s_.SendCommand(command);
  return true;
}

bool ReadAgain::QuietForRepeat(const std::string& command, const std::string& fault) {
  if (command != command_) {
    command_ = command;
    tries_ = 0;
  }
  fault_ = fault;
  if (++tries_ >= kTries) {
    command_.clear();
    return false;
  }
  // Nothing is awaited while the line drains: what still comes is the rest
  // of the damaged reply, nobody's.
  s_.EndSequence();
  const int quiet = s_.LineQuietMs(kQuietMs);
  s_.DrainLine(quiet, std::max(kDrainMaxMs, 4 * quiet));
  s_.ClearRx();
  ++s_.RepliesReadAgain;
  return true;
}

void ReadAgain::Reset() {
  command_.clear();
  tries_ = 0;
  fault_.clear();
}

std::string DamagedReplyText(MemoryKind kind, std::int32_t address, int tries,
                             const std::string& fault) {
  const MemoryInfo& memory = InfoOf(kind);
  const std::int64_t at = std::int64_t{memory.targetBase} + address;
  const bool byteAddress = kind == MemoryKind::IRAM || kind == MemoryKind::SFR;
  return std::string("The target's replies for ") + memory.name + " at " +
         (byteAddress ? HDPrev(at) : HD16Prev(at)) + "h were damaged " + std::to_string(tries) +
         " times in a row (the last " + fault + "); nothing of them was stored.";
}

std::string ReadAgainText(std::uint64_t count) {
  if (count == 0) return {};
  return std::to_string(count) + (count == 1 ? " damaged reply" : " damaged replies") +
         " read again";
}

}  // namespace varnel
