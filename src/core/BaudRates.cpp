// The settings' baud list.
#include "core/BaudRates.h"

#include <algorithm>

namespace varnel {

const std::vector<std::string>& BaudTexts() {
  static const std::vector<std::string> texts = {"110",  "300",  "600",   "1200",  "2400",
                                                 "4800", "9600", "14400", "19200", "38400"};
  return texts;
}

TBaudrate BaudRateFromText(const std::string& text) {
  const auto& texts = BaudTexts();
  const auto it = std::find(texts.begin(), texts.end(), text);
  // A typed rate outside the list has no position in it; the loader's
  // own default rate is the safe choice.
  if (it == texts.end()) return br9600;
  return static_cast<TBaudrate>(it - texts.begin());
}

}  // namespace varnel
