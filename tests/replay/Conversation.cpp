// Reading and writing recorded conversations.
#include "replay/Conversation.h"

#include <cstdio>

namespace varnel::testing {
namespace {

constexpr MemoryKind kKinds[] = {MemoryKind::Code, MemoryKind::ExtRAM, MemoryKind::IRAM,
                                 MemoryKind::SFR, MemoryKind::Cfg};

std::optional<MemoryKind> KindNamed(std::string_view name) {
  for (MemoryKind kind : kKinds) {
    if (name == CellMemoryName(kind)) return kind;
  }
  return std::nullopt;
}

// Hex digits only, at most eight of them.
std::optional<std::uint32_t> HexNumber(std::string_view text) {
  if (text.empty() || text.size() > 8) return std::nullopt;
  std::uint32_t value = 0;
  for (char c : text) {
    int d = -1;
    if (c >= '0' && c <= '9') d = c - '0';
    if (c >= 'A' && c <= 'F') d = c - 'A' + 10;
    if (c >= 'a' && c <= 'f') d = c - 'a' + 10;
    if (d < 0) return std::nullopt;
    value = value * 16 + static_cast<std::uint32_t>(d);
  }
  return value;
}

std::vector<std::string_view> Words(std::string_view text) {
  std::vector<std::string_view> words;
  std::size_t at = 0;
  while (at < text.size()) {
    const std::size_t start = text.find_first_not_of(' ', at);
    if (start == std::string_view::npos) break;
    const std::size_t end = std::min(text.find(' ', start), text.size());
    words.push_back(text.substr(start, end - start));
    at = end;
  }
  return words;
}

std::string Hex(unsigned value, int digits) {
  char text[16];
  std::snprintf(text, sizeof text, "%0*X", digits, value);
  return text;
}

// "@ code 0010 01 02 ..."; false when the line is no cell line.
bool ParseCells(std::string_view line, Conversation& c) {
  const auto words = Words(line.substr(1));
  if (words.size() < 3) return false;
  const auto kind = KindNamed(words[0]);
  const auto address = HexNumber(words[1]);
  if (!kind || !address) return false;
  for (std::size_t i = 2; i < words.size(); ++i) {
    const auto value = HexNumber(words[i]);
    if (!value || words[i].size() != 2) return false;
    c.cells[{*kind, static_cast<std::int32_t>(*address + (i - 2))}] =
        static_cast<std::uint8_t>(*value);
  }
  return true;
}

// "12.345 > text"; false when the line is no chunk.
bool ParseChunk(std::string_view line, Conversation& c) {
  RecordedChunk chunk;
  if (!ParseTraceLine(line, chunk.milliseconds, chunk.direction, chunk.bytes)) return false;
  c.chunks.push_back(std::move(chunk));
  return true;
}

}  // namespace

const char* CellMemoryName(MemoryKind kind) { return InfoOf(kind).shortName; }

std::vector<Exchange> Conversation::Exchanges() const {
  std::vector<Exchange> exchanges;
  for (std::size_t i = 0; i < chunks.size(); ++i) {
    const RecordedChunk& chunk = chunks[i];
    if (chunk.direction == TraceDirection::Sent || exchanges.empty()) {
      exchanges.push_back({});
      exchanges.back().afterHandshake = i >= runStart && !runName.empty();
    }
    if (chunk.direction == TraceDirection::Sent) {
      exchanges.back().sent = chunk.bytes;
    } else {
      exchanges.back().replies.push_back(chunk.bytes);
    }
  }
  return exchanges;
}

std::string Conversation::Text() const {
  std::string text;
  for (const std::string& line : comments) text += line.empty() ? "#\n" : "# " + line + "\n";
  for (std::size_t i = 0; i <= chunks.size(); ++i) {
    if (i == runStart && !runName.empty()) text += "-- " + runName + "\n";
    if (i == chunks.size()) break;
    text += TraceLine(chunks[i].milliseconds, chunks[i].direction, chunks[i].bytes) + "\n";
  }
  // Runs of consecutive cells, sixteen to a line.
  std::string line;
  std::pair<MemoryKind, std::int32_t> next{MemoryKind::Code, -1};
  int count = 0;
  for (const auto& [where, value] : cells) {
    if (where != next || count == 16) {
      if (!line.empty()) text += line + "\n";
      line = std::string("@ ") + CellMemoryName(where.first) + " " + Hex(where.second, 4);
      count = 0;
    }
    line += " " + Hex(value, 2);
    ++count;
    next = {where.first, where.second + 1};
  }
  if (!line.empty()) text += line + "\n";
  for (const std::string& fact : result) text += "= " + fact + "\n";
  return text;
}

std::optional<Conversation> ParseConversation(std::string_view text, std::string& error) {
  Conversation c;
  int number = 0;
  std::size_t at = 0;
  while (at < text.size()) {
    std::size_t end = text.find('\n', at);
    if (end == std::string_view::npos) end = text.size();
    std::string_view line = text.substr(at, end - at);
    at = end + 1;
    ++number;
    if (line.empty()) continue;
    bool ok = true;
    if (line[0] == '#') {
      line.remove_prefix(line.size() > 1 && line[1] == ' ' ? 2 : 1);
      c.comments.emplace_back(line);
    } else if (line.starts_with("-- ")) {
      c.runStart = c.chunks.size();
      c.runName = std::string(line.substr(3));
    } else if (line[0] == '@') {
      ok = ParseCells(line, c);
    } else if (line.starts_with("= ")) {
      c.result.emplace_back(line.substr(2));
    } else {
      ok = ParseChunk(line, c);
    }
    if (!ok) {
      error = "line " + std::to_string(number) + ": cannot read \"" + std::string(line) + "\"";
      return std::nullopt;
    }
  }
  return c;
}

void ConversationRecorder::Chunk(TraceDirection direction, std::string_view bytes) {
  const double ms =
      std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start_).count();
  conversation_.chunks.push_back({ms, direction, std::string(bytes)});
}

void ConversationRecorder::MarkRun(const std::string& name) {
  conversation_.runStart = conversation_.chunks.size();
  conversation_.runName = name;
}

}  // namespace varnel::testing
