// The serial trace: every chunk the port writes or reads, both ways, seen
// by whoever listens (the trace window, the command line's trace file).
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdio>
#include <deque>
#include <string>
#include <string_view>

namespace varnel {

enum class TraceDirection { Sent, Received };

class TraceTap {
 public:
  virtual ~TraceTap() = default;
  // Called on the thread that wrote or read, with exactly the bytes that
  // went over the line.
  virtual void Chunk(TraceDirection direction, std::string_view bytes) = 0;
};

// The bytes as printable text: control bytes, bytes from 7Fh on and the
// backslash escaped (\r \n \t \\ \xNN), so a line can be read and replayed.
std::string TraceText(std::string_view bytes);
// The inverse of TraceText; false when text holds a malformed escape.
bool TraceBytes(std::string_view text, std::string& bytes);
// One line of a trace: "12.345 > CR0010" (">" sent, "<" received).
std::string TraceLine(double milliseconds, TraceDirection direction, std::string_view bytes);
// The inverse of TraceLine; false when line is no such line or holds no
// bytes. A line end left on it ("\r" of a file saved with CR LF) is ignored.
bool ParseTraceLine(std::string_view line, double& milliseconds, TraceDirection& direction,
                    std::string& bytes);

// The last chunks, with their time since the log started; a bounded window
// of the conversation.
class TraceLog : public TraceTap {
 public:
  struct Entry {
    double milliseconds;
    TraceDirection direction;
    std::string bytes;
  };
  explicit TraceLog(std::size_t capacity = 10000) : capacity_(capacity) {}

  void Chunk(TraceDirection direction, std::string_view bytes) override;
  void Clear();
  const std::deque<Entry>& Entries() const { return entries_; }
  // Every entry as a TraceLine, each ended by a line feed.
  std::string Text() const;
  // Counts every chunk ever added, so a display can tell what is new.
  std::size_t Added() const { return added_; }

 private:
  std::size_t capacity_;
  std::deque<Entry> entries_;
  std::size_t added_ = 0;
  std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
};

// Every chunk as a TraceLine in a file, timed from when the file opened;
// each line is on disk once written, so a run that ends abruptly leaves
// its trace.
class TraceFile : public TraceTap {
 public:
  // Throws std::runtime_error naming the file and why it cannot be written.
  explicit TraceFile(const std::string& path);
  ~TraceFile() override;
  TraceFile(const TraceFile&) = delete;
  TraceFile& operator=(const TraceFile&) = delete;

  void Chunk(TraceDirection direction, std::string_view bytes) override;

 private:
  std::FILE* file_;
  std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
};

}  // namespace varnel
