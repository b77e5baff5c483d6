// Opening the simulator's pseudo-terminal.
#include "target-sim/PtyLine.h"

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

namespace varnel::sim {
namespace {

[[noreturn]] void Fail(const std::string& what, int error) {
  throw std::runtime_error(what + ": " + std::strerror(error));
}

}  // namespace

PtyLine OpenPtyLine() {
  PtyLine line;
  line.master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (line.master < 0) Fail("cannot open a pseudo-terminal", errno);
  char name[128];
  if (grantpt(line.master) != 0 || unlockpt(line.master) != 0 ||
      ptsname_r(line.master, name, sizeof name) != 0) {
    const int saved = errno;
    close(line.master);
    Fail("cannot set up the pseudo-terminal", saved);
  }
  line.slavePath = name;
  line.slave = open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (line.slave < 0) {
    const int saved = errno;
    close(line.master);
    Fail("cannot open " + line.slavePath, saved);
  }
  // A serial line passes bytes unchanged: raw on the slave side, at the
  // rate a terminal program would expect by default.
  termios settings{};
  if (tcgetattr(line.slave, &settings) == 0) {
    cfmakeraw(&settings);
    cfsetspeed(&settings, B9600);
    tcsetattr(line.slave, TCSANOW, &settings);
  }
  fcntl(line.master, F_SETFL, fcntl(line.master, F_GETFL) | O_NONBLOCK);
  return line;
}

}  // namespace varnel::sim
