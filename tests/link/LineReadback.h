// The line settings of a tty as the kernel holds them, read through the
// interface that carries any rate (the C library's cannot show 14400 baud).
#pragma once

namespace varnel::testing {

struct LineReadback {
  unsigned iflag = 0;
  unsigned cflag = 0;
  unsigned ispeed = 0;
  unsigned ospeed = 0;
  unsigned char vstart = 0, vstop = 0;
  bool ok = false;
};

LineReadback ReadLine(int fd);

// Flag values of that interface, for the checks.
struct LineFlags {
  static const unsigned kCsize, kCs5, kCs6, kCs7, kCs8, kCstopb, kParenb, kParodd, kCmspar,
      kCrtscts, kBother, kCbaud, kIxon, kIxoff, kInpck, kParmrk;
};

}  // namespace varnel::testing
