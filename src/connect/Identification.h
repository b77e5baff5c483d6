// What the handshake makes of the registers it reads: the chip's name from
// the identification register E9h and the core clock from the reload value
// of the baud-rate timer (CAh low, CBh high).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace varnel {

// "MSC1210Y2".."MSC1210Y5" for 0-3, "MSC1211Y2".."MSC1211Y5" from 4 on; the
// Y digit is (value mod 4) + 2.
std::string TargetNameFor(int idCode);

// (65536 - reload) * (baud * 32), wrapping as signed 32-bit arithmetic does.
std::int32_t CoreClockEstimate(int reload, int baud);
// The settings' baud text read as a decimal integer (0 when it holds none).
int BaudFromText(std::string_view baudText);

// How the user's locale writes a number: the decimal point and the
// separator of thousands groups (empty: none).
struct NumberFormat {
  std::string decimalPoint = ".";
  std::string groupSeparator = ",";
};
// The format of the program's current locale.
NumberFormat LocaleNumberFormat();

// "approx. 11.10MHz": the clock in MHz rounded to three significant digits,
// shown with two decimals in the given number format.
std::string ClockText(std::int32_t hz, const NumberFormat& format = LocaleNumberFormat());

}  // namespace varnel
