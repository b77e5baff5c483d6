// The commands of varnel-cli. Each has a part that checks what it was given
// before the port opens (a failure there sends nothing) and a part that
// works on the connected target through the library's Target. Results go to
// standard output; a command that does not finish throws CliFailure with
// the outcome that ended it.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "cli/ExitStatus.h"
#include "cli/Options.h"
#include "cli/Screen.h"
#include "cli/TargetPlan.h"
#include "core/Memories.h"

namespace varnel::cli {

// ports: the serial ports of this machine, one a line.
void RunPorts();
// terminal: the loader by hand, until Ctrl+]; it opens its own port. How
// it ended: Finished, Interrupted by a stop signal, PortFailed.
OutcomeKind RunTerminal(const Options& options);

ReadRequest PrepareRead(const Options& options);

// A program file as checked before a run: what it writes, and the bytes the
// download has written after each of its lines (for the progress).
struct ProgramImage {
  std::string path;
  bool raw = false;  // a .bin image, loaded at 0000h
  std::map<std::uint32_t, std::uint8_t> data;
  std::vector<std::size_t> bytesAfterLine;  // [k]: written by the first k lines
  bool endRecord = true;  // the file closes with its own end record
};
// Checks the file for a flash of flashBytes (the largest of the family
// before the chip is known); throws CliFailure (bad file).
ProgramImage LoadProgramImage(const std::string& path, std::uint32_t flashBytes);

// The largest flash of the family: 32 KB.
inline constexpr std::uint32_t kLargestFlash = InfoOf(MemoryKind::Code).size;

}  // namespace varnel::cli
