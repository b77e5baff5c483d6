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

// One row of the rate table: the enumerator, its line rate in baud and the
// text the settings store and show for it.
struct BaudRateInfo {
  TBaudrate rate;
  int baud;
  const char* text;
};

// Every TBaudrate, in enumeration order; the port, the settings, the
// properties dialog and the command line all take their rates from here.
inline constexpr BaudRateInfo kBaudRates[] = {
    {br110, 110, "110"},          {br300, 300, "300"},          {br600, 600, "600"},
    {br1200, 1200, "1200"},       {br2400, 2400, "2400"},       {br4800, 4800, "4800"},
    {br9600, 9600, "9600"},       {br14400, 14400, "14400"},    {br19200, 19200, "19200"},
    {br38400, 38400, "38400"},    {br56000, 56000, "56000"},    {br57600, 57600, "57600"},
    {br115200, 115200, "115200"}, {br128000, 128000, "128000"}, {br256000, 256000, "256000"},
};

// A new port's rate, and the boot loader's own after reset.
inline constexpr TBaudrate kDefaultBaudRate = br9600;

// The row of a rate; a value outside the enumeration reads as the default.
constexpr const BaudRateInfo& InfoOfRate(TBaudrate rate) {
  for (const BaudRateInfo& row : kBaudRates) {
    if (row.rate == rate) return row;
  }
  return kBaudRates[kDefaultBaudRate];
}

constexpr bool RatesInEnumerationOrder() {
  int at = 0;
  for (const BaudRateInfo& row : kBaudRates) {
    if (row.rate != at++) return false;
  }
  return at == br256000 + 1;
}
static_assert(RatesInEnumerationOrder());

// Line rate in baud of each TBaudrate value.
constexpr int BaudRateValue(TBaudrate rate) { return InfoOfRate(rate).baud; }

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
