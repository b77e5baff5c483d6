// A production station: several ports at once, each programming the board
// put on it, a serial number per board, the record of every board, and the
// loop that waits for the next board. Everything a window or a script needs
// to run a station comes through one callback per board event.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "varnel/export.h"
#include "varnel/image.h"

namespace varnel {

struct SerialSpec {
  std::uint32_t address = 0;  // where in the flash the number goes
  std::uint32_t length = 4;   // bytes
  enum class Format { Le, Be, Ascii } format = Format::Le;  // ascii: decimal digits, zero-padded
};

struct StationOptions {
  std::vector<std::string> ports;
  std::string file;              // the program file; or image, when file is empty
  std::optional<Image> image;
  int baud = 9600;
  std::string reset;             // as TargetOptions::reset
  std::string reset_command;
  bool verify = true;
  std::optional<SerialSpec> serial;
  std::string serial_file;       // holds the next number; taken under a lock, one per board
  std::string log_path;          // one JSON line per board; empty: none
  bool loop = false;             // after a board, wait for the next one on the same port
  int count = 0;                 // with loop: stop after this many boards in all (0: no limit)
  int timeout_ms = 3000;
};

struct BoardEvent {
  enum class State { Waiting, Connecting, Erasing, Programming, Verifying, Ok, Failed };
  std::string port;
  int board = 0;          // 1, 2, ... over the whole run
  State state = State::Waiting;
  int percent = 0;        // of the current state
  std::optional<std::uint64_t> serial;
  std::string message;    // what went wrong, for Failed; the chip, for Connecting
  int exit_status = 0;    // for Ok and Failed
};

class VARNEL_API Station {
 public:
  // Checks the file (or image), the serial-number file and the log before
  // any port opens: BadFile.
  explicit Station(StationOptions options);
  ~Station();
  Station(const Station&) = delete;
  Station& operator=(const Station&) = delete;

  // Called from the ports' threads, one event at a time.
  void on_event(std::function<void(const BoardEvent&)> callback);
  // Runs until every port is done (or stop()); the worst exit status of
  // the boards, 0 when all went well.
  int run();
  // From any thread: every board in flight ends as on Ctrl+C.
  void stop() noexcept;

 private:
  class Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace varnel
