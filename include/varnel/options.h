// The plain data a Target takes and gives: its options, the facts of a
// connect, what a read and a programming run are given and return.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

namespace varnel {

// What a run says besides its result and its progress.
struct Message {
  enum class Kind {
    Step,     // a read of its own starts: text is its label, bytes what it reads
    Notice,   // the boot loader's run says how it went
    Warning,  // something failed that the run goes on without (a reset the port cannot give)
  };
  Kind kind = Kind::Notice;
  std::string text;
  std::size_t bytes = 0;
};

struct TargetOptions {
  int baud = 9600;            // any rate the port takes (110 .. 256000)
  // The board's reset on DTR/RTS before the wake-up: "" none, "pulse",
  // "pulse-inverted", or steps such as "dtr=1,rts=0,40,rts=1,400".
  std::string reset;
  std::string reset_command;  // a shell command run before each connect (a relay)
  std::uint32_t clock_hz = 0; // the crystal, for the flash timing; 0: the connect's estimate
  int timeout_ms = 3000;      // what a reply may take beyond its own time on the line
  std::string trace_path;     // every byte both ways, timed, as varnel-cli --trace writes
  // Called on the Target's thread with each Message of a run; none: unsaid.
  std::function<void(const Message&)> on_message{};
};

struct Info {
  std::string chip;              // "MSC1210Y5"
  int id = 0;                    // the identification register E9h
  std::string firmware;          // empty when the loader was awake already
  std::uint32_t clock_hz = 0;    // the estimate from the baud timer's reload
  std::uint32_t clock_step_hz = 0;  // one count of that reload at this rate
  std::uint32_t flash_bytes = 0;
};

// Called on the Target's thread as a run goes: bytes done of total.
using Progress = std::function<void(std::size_t done, std::size_t total)>;

struct ReadOptions {
  bool twice = false;  // every block read twice; a third read settles a disagreement
  Progress progress{};
};

struct ProgramResult {
  // Data bytes the flash holds from the image; of them those sent, and
  // those left out because the run's erase had left them FFh already.
  std::size_t bytes_written = 0;
  std::size_t bytes_sent = 0;
  std::size_t bytes_skipped = 0;
  bool verified = false;
  std::size_t replies_read_again = 0;  // damaged replies the run asked for again
};

}  // namespace varnel
