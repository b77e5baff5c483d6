// What varnel-cli's station runs, as plain data: the command line's options
// with the settings store under them, resolved before any port opens. Free
// of the engine's headers, so the side that drives the library's station
// includes it beside the public API.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace varnel::cli {

struct StationPlan {
  enum class Command { Program, Verify, Erase, BlankCheck, Info } command = Command::Program;
  std::vector<std::string> ports;    // as given: the result lines name them so
  std::vector<std::string> devices;  // each port's device
  std::string file;
  bool allowMissingEnd = false;
  int baud = 9600;
  std::string reset;                 // the reset sequence, empty for none
  std::string resetCommand;
  std::uint32_t crystalHz = 0;       // 0: the connect's estimate
  std::optional<std::int32_t> clockOption;  // --clock, for the clock's warnings
  int timeoutMs = 3000;
  std::string trace;
  bool quiet = false;
  bool verify = false, sendAll = false;
  enum class Erase { Flash, WithCfg, CfgOnly } erase = Erase::Flash;
  bool massErase = true, eraseConfig = true, writeFlash = true, writeConfig = true;
  std::uint8_t hcr0 = 0xFF, hcr1 = 0xFF;
  struct Serial {
    std::uint32_t address = 0, length = 0;
    enum class Format { Le, Be, Ascii } format = Format::Le;
  };
  std::optional<Serial> serial;
  std::string serialFile, db, serialCounter, log;
  bool loop = false;
  int count = 0;
};

// Runs the station; its exit status. Throws CliFailure for what is refused
// before any port opens.
int RunStationPlan(const StationPlan& plan);

}  // namespace varnel::cli
