// The real serial component on a pseudo-terminal: TComm names the slave side
// and runs at the given rate, the test plays the target on the master side.
// The port is left closed; the test opens it when it is ready.
#pragma once

#include "link/CommInt.h"
#include "support/Pty.h"

namespace varnel::testing {

struct PtyComm {
  explicit PtyComm(TBaudrate rate = kDefaultBaudRate) {
    comm.SetDeviceName(pty.Path());
    comm.SetBaudRate(rate);
  }

  Pty pty;    // outlives the port, so the port closes a live line
  TComm comm;
};

}  // namespace varnel::testing
