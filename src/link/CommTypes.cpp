// Serial port enumerations and error text.
#include "link/CommTypes.h"

namespace varnel {

int BaudRateValue(TBaudrate rate) {
  static constexpr int kRates[] = {110,   300,   600,   1200,   2400,   4800,   9600,  14400,
                                   19200, 38400, 56000, 57600, 115200, 128000, 256000};
  const int i = static_cast<int>(rate);
  return (i >= 0 && i < 15) ? kRates[i] : 9600;
}

ECommError::ECommError(const std::string& text, int code)
    : std::runtime_error(text + " (Error: " + std::to_string(code) + ") "), code_(code) {}

}  // namespace varnel
