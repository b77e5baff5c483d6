// The rate the host set on the line. Read through termios2, which reports
// any rate as a number (the tool sets non-standard rates such as 14400 that
// way), so this file must not see <termios.h>.
#include "target-sim/LineSpeed.h"

#include <asm/termbits.h>
#include <sys/ioctl.h>

namespace varnel::sim {

int LineBaud(int fd) {
  struct termios2 settings {};
  if (ioctl(fd, TCGETS2, &settings) != 0) return 0;
  return static_cast<int>(settings.c_ospeed);
}

}  // namespace varnel::sim
