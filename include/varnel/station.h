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
#include "varnel/options.h"
#include "varnel/target.h"

namespace varnel {

struct SerialSpec {
  std::uint32_t address = 0;  // where in the flash the number goes
  std::uint32_t length = 4;   // bytes
  enum class Format { Le, Be, Ascii } format = Format::Le;  // ascii: decimal digits, zero-padded
};

// What every board of the station gets.
enum class StationCommand { Program, Verify, Erase, BlankCheck, Info };

struct StationOptions {
  std::vector<std::string> ports;  // one board at a time on each, side by side
  StationCommand command = StationCommand::Program;
  std::string file;              // the program file; or image, when file is empty
  std::optional<Image> image;
  bool allow_missing_end = false;  // take an Intel HEX file without its end record
  int baud = 9600;
  std::string reset;             // as TargetOptions::reset
  std::string reset_command;     // run before every board's wake-up
  std::uint32_t clock_hz = 0;    // as TargetOptions::clock_hz
  int timeout_ms = 3000;
  bool verify = true;            // program: read the flash back and compare
  bool send_all = false;         // program: also records of FFh alone after the erase
  EraseScope erase_scope = EraseScope::Flash;  // erase
  std::optional<SerialSpec> serial;  // program: a number per board, taken after its erase
  std::string serial_file;       // holds the next number; taken under a lock, one per board
  std::string db;                // PostgreSQL connection string: numbers and records there
  std::string serial_counter = "default";  // with db: the counter the numbers come from
  std::string log_path;          // one JSON line per board; empty: none
  bool loop = false;             // after a board, wait for the next one on the same port
  int count = 0;                 // with loop: boards per port, then the port is done (0: no limit)
};

struct BoardEvent {
  // Output: a line of the board's own report (a verify's summary, the
  // addresses a blank check found, info's facts); "warning: ..." for a
  // warning.
  enum class State { Waiting, Connecting, Erasing, Programming, Verifying, Ok, Failed, Output };
  std::string port;
  int board = 0;          // 1, 2, ... on its port
  State state = State::Waiting;
  int percent = 0;        // of the current state
  std::optional<std::uint64_t> serial;  // once the board has taken one
  // Failed: what went wrong; Output: the line; Connecting: empty while the
  // boot loader is woken, then "CHIP on PORT at RATE baud" once it answered.
  std::string message;
  std::optional<Info> target;  // once connected
  int exit_status = 0;    // for Ok and Failed
};

class VARNEL_API Station {
 public:
  // Checks the file (or image), the ports (none twice), the serial number's
  // place and counter, the database and the log before any port opens:
  // BadFile, RecordLost (a database that cannot be reached).
  explicit Station(StationOptions options);
  ~Station();
  Station(const Station&) = delete;
  Station& operator=(const Station&) = delete;

  // Called from the ports' threads, one event at a time. Set before run().
  void on_event(std::function<void(const BoardEvent&)> callback);
  // Runs until every port is done (or stop()). Without loop: the exit
  // status of the first port, in the given order, whose board failed, 0
  // when all went well. With loop: 130 after stop(), 1 when any board
  // failed, else 0.
  int run();
  // From any thread: every board in flight ends as on Ctrl+C (a download
  // gets its end record first), a port waiting for its board stops waiting.
  void stop() noexcept;

  // The SHA-256 of the program file as read once for every board.
  const std::string& file_sha256() const;

 private:
  class Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace varnel
