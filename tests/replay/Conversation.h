// A recorded conversation with the boot loader: every chunk the port wrote
// or read, in order, as the serial trace shows them, plus what the target
// held and what the run left behind. Parsed from and written to the text
// files under tests/data/conversations.
//
//   # comment
//   12.345 > CR0010                   a chunk the host wrote
//   12.351 < \r\n01 02 ... 10\r\n>     a chunk the host read
//   -- Upload All                     the handshake is over, the run starts
//   @ code 0010 01 02 03 ...          a cell the run fills, with the target's byte
//   = target MSC1210Y5                a fact of the end result
#pragma once

#include <chrono>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "core/Memories.h"
#include "link/Trace.h"

namespace varnel::testing {

struct RecordedChunk {
  double milliseconds = 0;
  TraceDirection direction = TraceDirection::Sent;
  std::string bytes;
};

// One command and everything read before the next one: the unit the
// replaying target answers with.
struct Exchange {
  std::string sent;                  // empty: bytes the target sent unasked
  std::vector<std::string> replies;  // chunks as the host read them
  bool afterHandshake = false;       // belongs to the run, not to the connect
};

struct Conversation {
  std::vector<std::string> comments;  // header lines, without "# "
  std::vector<RecordedChunk> chunks;
  std::size_t runStart = 0;  // index of the first chunk after the "--" line
  std::string runName;       // text of the "--" line
  // Cells the run fills, with the target's byte: (memory, address) -> byte.
  std::map<std::pair<MemoryKind, std::int32_t>, std::uint8_t> cells;
  std::vector<std::string> result;  // "= " lines, in order

  std::vector<Exchange> Exchanges() const;
  std::string Text() const;
};

// Parses a file's text; nothing, and error set to line and reason, when a
// line is malformed.
std::optional<Conversation> ParseConversation(std::string_view text, std::string& error);

// What a memory is called in the "@" lines ("code", "xdata", ...).
const char* CellMemoryName(MemoryKind kind);

// Collects the chunks the port hands to its trace tap, with their time.
class ConversationRecorder : public TraceTap {
 public:
  void Chunk(TraceDirection direction, std::string_view bytes) override;
  // The run starts after the chunks seen so far.
  void MarkRun(const std::string& name);
  Conversation& Recorded() { return conversation_; }

 private:
  Conversation conversation_;
  std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
};

}  // namespace varnel::testing
