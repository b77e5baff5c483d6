// What the handshake makes of the registers it reads: the chip's name from
// the identification register E9h and the core clock from the reload value
// of the baud-rate timer (CAh low, CBh high).
#pragma once

#include <QLocale>
#include <QString>
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

// "approx. 11.10MHz": the clock in MHz rounded to three significant digits,
// shown with two decimals in the locale's number format.
QString ClockText(std::int32_t hz, const QLocale& locale = QLocale());

}  // namespace varnel
