// What a single board's run on the library's Target works with, as plain data: the
// command line's options with the settings store under them, resolved
// before any port opens. Free of the engine's headers, so the side that
// drives the library's Target includes it beside the public API.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <utility>

#include "cli/Screen.h"
#include "core/Memories.h"
#include "core/Outcome.h"

namespace varnel::cli {

struct ReadRequest {
  const MemoryInfo* entry = nullptr;
  std::uint32_t from = 0, to = 0;  // target addresses
  bool toGiven = false;            // else code reads to the end of the flash
  enum class Format { Dump, Hex, Bin } format = Format::Dump;
  std::string output;
  bool twice = false;  // every block read twice and compared
};

// What the record of a board says besides how it ended.
struct BoardFacts {
  std::string target, id, firmware;
  long clockHz = 0;
  std::optional<std::uint64_t> serial;
  // Data bytes the flash holds from the file through records the loader
  // accepted (records left out as erased count: the flash holds them), and
  // of them those sent.
  std::size_t bytesWritten = 0;
  std::size_t bytesSent = 0;
  bool verified = false;
  bool connected = false;  // a loader answered: there was a board
};

struct TargetPlan {
  enum class Command { Info, Read, Erase, Verify, BlankCheck, Program } command = Command::Info;
  std::string port;    // as the library opens it
  std::string device;  // as messages name it
  int baud = 9600;
  std::string reset;   // the reset sequence, empty for none
  std::uint32_t crystalHz = 0;  // 0: the connect's estimate
  std::optional<std::int32_t> clockOption;  // --clock, for the clock's warnings
  int timeoutMs = 3000;
  std::string trace;
  std::string resetCommand;
  bool quiet = false;
  const ReadRequest* read = nullptr;
  // verify: what the program file writes, and its name for the report.
  const std::map<std::uint32_t, std::uint8_t>* data = nullptr;
  std::string fileName;
  enum class Erase { Flash, WithCfg, CfgOnly } erase = Erase::Flash;
  // program: the file as kept for this run, whether it closes with its own
  // end record, and the run's steps.
  std::string programFile;
  bool endRecord = true;
  // Checks the file again for the flash the chip really has; throws
  // CliFailure (bad file), before anything but the handshake is sent.
  std::function<void(std::uint32_t flashBytes)> checkFlash;
  bool verify = false, sendAll = false;
  bool massErase = true, eraseConfig = true, writeFlash = true, writeConfig = true;
  std::optional<std::uint8_t> hcr0, hcr1;
  // With a serial number: takes the board's next one once the erase has
  // succeeded; the number and its bytes, which go to serialAddress. Throws
  // CliFailure when there is none.
  std::function<std::pair<std::uint64_t, std::string>()> takeSerial;
  std::uint32_t serialAddress = 0;
};

// Connects and runs the command; the outcome that ended it (Finished when
// all went well). Never throws.
Outcome RunTargetPlan(const TargetPlan& plan, Screen& screen, BoardFacts& facts);

}  // namespace varnel::cli
