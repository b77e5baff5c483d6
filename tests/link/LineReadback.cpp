// Reading a tty's settings with the kernel's termios2 request.
#include "LineReadback.h"

#include <asm/termbits.h>
#include <sys/ioctl.h>

namespace varnel::testing {

LineReadback ReadLine(int fd) {
  LineReadback r;
  termios2 t{};
  if (::ioctl(fd, TCGETS2, &t) != 0) return r;
  r.iflag = t.c_iflag;
  r.cflag = t.c_cflag;
  r.ispeed = t.c_ispeed;
  r.ospeed = t.c_ospeed;
  r.vstart = t.c_cc[VSTART];
  r.vstop = t.c_cc[VSTOP];
  r.ok = true;
  return r;
}

const unsigned LineFlags::kCsize = CSIZE, LineFlags::kCs5 = CS5, LineFlags::kCs6 = CS6,
               LineFlags::kCs7 = CS7, LineFlags::kCs8 = CS8, LineFlags::kCstopb = CSTOPB,
               LineFlags::kParenb = PARENB, LineFlags::kParodd = PARODD,
               LineFlags::kCmspar = CMSPAR, LineFlags::kCrtscts = CRTSCTS,
               LineFlags::kBother = BOTHER, LineFlags::kCbaud = CBAUD, LineFlags::kIxon = IXON,
               LineFlags::kIxoff = IXOFF, LineFlags::kInpck = INPCK, LineFlags::kParmrk = PARMRK;

}  // namespace varnel::testing
