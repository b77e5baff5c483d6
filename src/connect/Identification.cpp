// Chip name and clock estimate of the connect handshake.
#include "connect/Identification.h"

#include <QLocale>
#include <charconv>
#include <cmath>
#include <cstdio>

namespace varnel {

std::string TargetNameFor(int idCode) {
  std::string name = idCode >= 4 ? "MSC1211" : "MSC1210";
  name += 'Y';
  name += static_cast<char>('0' + ((idCode % 4) + 4) % 4 + 2);
  return name;
}

std::int32_t CoreClockEstimate(int reload, int baud) {
  const std::uint32_t span = static_cast<std::uint32_t>(65536 - reload);
  const std::uint32_t rate = static_cast<std::uint32_t>(baud) * 32u;
  return static_cast<std::int32_t>(span * rate);  // modular, like the 32-bit original
}

int BaudFromText(std::string_view baudText) {
  int baud = 0;
  const auto result = std::from_chars(baudText.data(), baudText.data() + baudText.size(), baud);
  return result.ec == std::errc() ? baud : 0;
}

NumberFormat LocaleNumberFormat() {
  const QLocale locale;
  NumberFormat format;
  format.decimalPoint = locale.decimalPoint().toStdString();
  format.groupSeparator = locale.numberOptions() & QLocale::OmitGroupSeparator
                              ? std::string()
                              : locale.groupSeparator().toStdString();
  return format;
}

std::string ClockText(std::int32_t hz, const NumberFormat& format) {
  double mhz = hz / 1e6;
  if (mhz != 0.0) {
    const double scale = std::pow(10.0, std::floor(std::log10(std::fabs(mhz))) - 2);
    mhz = std::round(mhz / scale) * scale;
  }
  // Two decimals, the whole part grouped by thousands.
  char digits[64];
  std::snprintf(digits, sizeof digits, "%.2f", std::fabs(mhz));
  const std::string fixed(digits);
  const std::size_t point = fixed.find('.');
  const std::string whole = fixed.substr(0, point);
  std::string text = mhz < 0 ? "-" : "";
  for (std::size_t i = 0; i < whole.size(); ++i) {
    if (i > 0 && (whole.size() - i) % 3 == 0) text += format.groupSeparator;
    text += whole[i];
  }
  text += format.decimalPoint + fixed.substr(point + 1);
  return "approx. " + text + "MHz";
}

}  // namespace varnel
