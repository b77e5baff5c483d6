// Enumerations and the error type of the serial port component.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

namespace varnel {

enum TBaudrate {
  br110, br300, br600, br1200, br2400, br4800, br9600, br14400, br19200, br38400,
  br56000, br57600, br115200, br128000, br256000
};
enum TParity { paNone, paOdd, paEven, paMark, paSpace };
enum TStopbits { sb10, sb15, sb20 };
enum TDatabits { da4, da5, da6, da7, da8 };
enum TFlowControl { fcNone, fcCTS, fcDTR, fcSoftware, fcDefault };
enum TCommOption { coParityCheck, coDsrSensitivity, coIgnoreXOff, coErrorChar, coNullStrip };
enum TCommEventType {
  evBreak, evCts, evDsr, evError, evRing, evRlsd, evRxChar, evRxFlag, evTxEmpty
};

// Line rate in baud of each TBaudrate value.
int BaudRateValue(TBaudrate rate);

// A failure of the serial port. The message is the operation's text followed
// by " (Error: <code>) "; the code is errno for a failed platform call and -1
// for the component's own checks.
class ECommError : public std::runtime_error {
 public:
  ECommError(const std::string& text, int code);
  int Code() const { return code_; }

 private:
  int code_;
};

}  // namespace varnel
