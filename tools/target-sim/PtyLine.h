// The simulated end of a serial line: a pseudo-terminal whose master side
// the simulator reads and writes, with the slave side held open so that the
// line stays up while a host closes and reopens the port.
#pragma once

#include <string>

namespace varnel::sim {

struct PtyLine {
  int master = -1;  // non-blocking
  int slave = -1;
  std::string slavePath;
};

// Opens the pair, the slave side raw at 9600 baud as a terminal program
// expects by default. Throws std::runtime_error when no pseudo-terminal can
// be had.
PtyLine OpenPtyLine();

}  // namespace varnel::sim
