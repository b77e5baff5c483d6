// Trace text and the bounded trace log.
#include "link/Trace.h"
#include "link/ErrorText.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

namespace varnel {

std::string TraceText(std::string_view bytes) {
  std::string text;
  text.reserve(bytes.size());
  for (const char ch : bytes) {
    const auto c = static_cast<unsigned char>(ch);
    switch (c) {
      case '\r': text += "\\r"; break;
      case '\n': text += "\\n"; break;
      case '\t': text += "\\t"; break;
      case '\\': text += "\\\\"; break;
      default:
        if (c < 0x20 || c >= 0x7F) {
          char hex[5];
          std::snprintf(hex, sizeof hex, "\\x%02X", c);
          text += hex;
        } else {
          text += ch;
        }
    }
  }
  return text;
}

namespace {

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

}  // namespace

bool TraceBytes(std::string_view text, std::string& bytes) {
  bytes.clear();
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\\') {
      bytes += text[i];
      continue;
    }
    if (++i >= text.size()) return false;
    switch (text[i]) {
      case 'r': bytes += '\r'; break;
      case 'n': bytes += '\n'; break;
      case 't': bytes += '\t'; break;
      case '\\': bytes += '\\'; break;
      case 'x': {
        if (i + 2 >= text.size()) return false;
        const int high = HexValue(text[i + 1]);
        const int low = HexValue(text[i + 2]);
        if (high < 0 || low < 0) return false;
        bytes += static_cast<char>(high * 16 + low);
        i += 2;
        break;
      }
      default:
        return false;
    }
  }
  return true;
}

std::string TraceLine(double milliseconds, TraceDirection direction, std::string_view bytes) {
  char time[32];
  std::snprintf(time, sizeof time, "%.3f", milliseconds);
  return std::string(time) + (direction == TraceDirection::Sent ? " > " : " < ") +
         TraceText(bytes);
}

bool ParseTraceLine(std::string_view line, double& milliseconds, TraceDirection& direction,
                    std::string& bytes) {
  if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
  const std::size_t blank = line.find(' ');
  if (blank == std::string_view::npos || blank == 0 || blank + 3 > line.size()) return false;
  const std::string time(line.substr(0, blank));
  char* end = nullptr;
  const double ms = std::strtod(time.c_str(), &end);
  if (*end != '\0' || !std::isfinite(ms)) return false;
  const char arrow = line[blank + 1];
  if ((arrow != '>' && arrow != '<') || line[blank + 2] != ' ') return false;
  if (!TraceBytes(line.substr(blank + 3), bytes) || bytes.empty()) return false;
  milliseconds = ms;
  direction = arrow == '>' ? TraceDirection::Sent : TraceDirection::Received;
  return true;
}

void TraceLog::Chunk(TraceDirection direction, std::string_view bytes) {
  const double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() -
                                                               start_)
                        .count();
  entries_.push_back({ms, direction, std::string(bytes)});
  ++added_;
  while (entries_.size() > capacity_) entries_.pop_front();
}

void TraceLog::Clear() {
  entries_.clear();
  start_ = std::chrono::steady_clock::now();
}

std::string TraceLog::Text() const {
  std::string text;
  for (const Entry& e : entries_) {
    text += TraceLine(e.milliseconds, e.direction, e.bytes);
    text += '\n';
  }
  return text;
}

TraceFile::TraceFile(const std::string& path) : file_(std::fopen(path.c_str(), "we")) {
  if (!file_) {
    throw std::runtime_error("cannot write the trace file " + path + ": " + ErrorText(errno));
  }
}

TraceFile::~TraceFile() { std::fclose(file_); }

void TraceFile::Chunk(TraceDirection direction, std::string_view bytes) {
  const double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() -
                                                               start_)
                        .count();
  const std::string line = TraceLine(ms, direction, bytes) + "\n";
  std::fwrite(line.data(), 1, line.size(), file_);
  std::fflush(file_);
}

}  // namespace varnel
