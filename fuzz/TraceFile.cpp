// The trace file that varnel-target-sim --replay reads, a user's file:
//  - whatever the text, the reading either refuses it naming a line the
//    text has, or gives steps in the order of their lines, each one the
//    line it names (line ends and blanks aside), with bytes, a finite time,
//    and bytes that write out and read back unchanged;
//  - chunks written as varnel-cli writes them, with comments, blank lines
//    and CR LF line ends among them, read back as exactly those chunks.
#include <fuzzer/FuzzedDataProvider.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>
#include <string>
#include <vector>

#include "Require.h"
#include "link/Trace.h"
#include "target-sim/replay/TraceReplay.h"

namespace varnel::fuzz {
namespace {

using sim::TraceStep;

// The text's lines as the reader counts them: split at LF, a CR before it
// not part of the line.
std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t at = 0;
  while (at < text.size()) {
    std::size_t end = text.find('\n', at);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(at, end - at);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
    at = end + 1;
  }
  return lines;
}

void AnyText(const std::string& text) {
  const std::vector<std::string> lines = Lines(text);
  std::vector<TraceStep> steps;
  try {
    steps = sim::ParseTrace(text);
  } catch (const std::invalid_argument& e) {
    const std::string what = e.what();
    Require(what.rfind("line ", 0) == 0, "a refusal names its line: " + what);
    const long number = std::strtol(what.c_str() + 5, nullptr, 10);
    Require(number >= 1 && static_cast<std::size_t>(number) <= lines.size(),
            "a refusal names a line the text has: " + what);
    return;
  }
  int last = 0;
  for (const TraceStep& step : steps) {
    Require(step.line > last, "steps come in the order of their lines");
    last = step.line;
    Require(static_cast<std::size_t>(step.line) <= lines.size(), "a step names a line the text has");
    Require(step.text == lines[static_cast<std::size_t>(step.line) - 1], "a step holds its line");
    Require(!step.bytes.empty(), "a step has bytes");
    Require(std::isfinite(step.milliseconds), "a step's time is a number");
    std::string again;
    Require(TraceBytes(TraceText(step.bytes), again) && again == step.bytes,
            "a step's bytes write out and read back unchanged");
  }
}

struct Chunk {
  double ms;
  bool sent;
  std::string bytes;
};

void WrittenChunks(FuzzedDataProvider& in) {
  std::vector<Chunk> chunks;
  std::string text;
  while (in.remaining_bytes() > 0 && chunks.size() < 64) {
    switch (in.ConsumeIntegralInRange(0, 3)) {
      case 0: {
        std::string comment = in.ConsumeRandomLengthString(40);
        for (char& c : comment) c = c == '\n' ? ' ' : c;  // one line
        text += "#" + comment + "\n";
        continue;
      }
      case 1: text += in.ConsumeBool() ? "\n" : " \t\r\n"; continue;
      default: break;
    }
    Chunk chunk{in.ConsumeIntegral<std::uint32_t>() / 1000.0, in.ConsumeBool(),
                in.ConsumeRandomLengthString(80)};
    if (chunk.bytes.empty()) continue;  // a port never reports an empty chunk
    text += TraceLine(chunk.ms, chunk.sent ? TraceDirection::Sent : TraceDirection::Received,
                      chunk.bytes);
    text += in.ConsumeBool() ? "\r\n" : "\n";
    chunks.push_back(std::move(chunk));
  }
  std::vector<TraceStep> steps;
  try {
    steps = sim::ParseTrace(text);
  } catch (const std::invalid_argument& e) {
    Require(false, std::string("a written trace reads back: ") + e.what());
  }
  Require(steps.size() == chunks.size(), "every chunk written reads back as one step");
  for (std::size_t i = 0; i < chunks.size(); ++i) {
    Require(steps[i].bytes == chunks[i].bytes, "a chunk's bytes read back unchanged");
    Require(steps[i].fromHost == chunks[i].sent, "a chunk's direction reads back");
    Require(std::fabs(steps[i].milliseconds - chunks[i].ms) <= 0.0005 + 1e-9,
            "a chunk's time reads back to the microsecond");
  }
}

}  // namespace
}  // namespace varnel::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace varnel::fuzz;
  FuzzedDataProvider in(data, size);
  if (in.ConsumeIntegralInRange(0, 1) == 0) {
    AnyText(in.ConsumeRemainingBytesAsString());
  } else {
    WrittenChunks(in);
  }
  return 0;
}
