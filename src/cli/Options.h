// The command line of varnel-cli: the command, its arguments and the
// options, as parsed from argv. Parsing only checks the form of what was
// typed; whether a port opens or a file reads is found out later.
#pragma once

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "programming/ProgrammingSequence.h"

namespace varnel::cli {

enum class Command { None, Ports, Info, Read, Program, Verify, Erase, Terminal, BlankCheck, Db };

// Where and how a board's serial number goes into the image.
struct SerialSpec {
  std::uint32_t address = 0;
  std::uint32_t length = 0;
  enum class Format { Le, Be, Ascii } format = Format::Le;
};


struct Options {
  Command command = Command::None;

  // Link and settings.
  std::string port;                 // empty: the settings' port; else the first of ports
  std::vector<std::string> ports;   // every -p, commas split: one board each
  std::string baud;                 // empty: the settings' rate
  std::string project;              // a .prj file instead of the per-user store
  bool reset = false;               // reset through DTR/RTS before the wake-up
  std::optional<std::string> resetSequence;  // instead of the settings' (checked when parsed)
  std::string resetCommand;         // a shell command run before the wake-up
  std::optional<std::int32_t> clockHz;  // the crystal: the flash timing follows it
  int timeoutMs = 3000;             // per exchange, beyond the reply's own line time
  std::string trace;                // file for every chunk both ways
  bool quiet = false;
  bool help = false;
  bool version = false;
  std::string log;                  // JSON Lines file: one record per board and command
  std::string db;                   // libpq connection string: records (and numbers) in PostgreSQL

  // read
  std::string memory;               // code, xdata, iram, sfr, cfg
  std::string output;               // .hex or .bin; empty: dump lines on stdout
  std::optional<std::uint32_t> from, to;
  bool twice = false;               // every block read twice and compared

  // program, verify
  std::string file;
  bool allowMissingEnd = false;     // an Intel HEX file without its end record is taken
  bool verify = false;
  bool noMassErase = false, noEraseCfg = false, noFlash = false, noHcr = false;
  bool sendAll = false;             // also the records the erase left as they are (all FFh)
  std::optional<std::uint8_t> hcr0, hcr1;

  // program: a serial number per board, and a station that waits for the next board
  std::optional<SerialSpec> serial;
  std::string serialFile;
  bool loop = false;
  int count = 0;                    // boards per port with loop; 0: until Ctrl+C
  std::string serialCounter;        // with db: the counter numbers come from

  // db init|flush|export
  std::string dbAction;
  std::string counter;              // init: a counter to create, from counterStart
  std::optional<std::uint64_t> counterStart;
  std::optional<std::string> since;           // export: records from this time on
  std::optional<std::uint64_t> exportSerial;  // export: the records of this number

  // erase
  EraseScope eraseScope = EraseScope::Flash;
};

// A command line that cannot be run as typed; what() says why.
class UsageError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Throws UsageError. "-h"/"--help" and "--version" need no command.
Options ParseOptions(int argc, char** argv);

// Hexadecimal, optionally written 0x7FFF or 7FFFh; nullopt when the text
// is no such number or exceeds max.
std::optional<std::uint32_t> ParseHex(std::string text, std::uint32_t max);

// "ADDR:LEN[:le|be|ascii]"; throws UsageError.
SerialSpec ParseSerialSpec(const std::string& text);

// The help text.
std::string UsageText();
// The memories "read" takes: "code, xdata, iram, sfr or cfg".
std::string MemoryNames();

}  // namespace varnel::cli
