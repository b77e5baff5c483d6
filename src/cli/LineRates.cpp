// The port component's rates as the command line names them.
#include "cli/LineRates.h"

namespace varnel::cli {

std::optional<TBaudrate> LineRateFromText(const std::string& text) {
  for (int i = br110; i <= br256000; ++i) {
    const auto rate = static_cast<TBaudrate>(i);
    if (text == std::to_string(BaudRateValue(rate))) return rate;
  }
  return std::nullopt;
}

std::string LineRateList() {
  std::string list;
  for (int i = br110; i <= br256000; ++i) {
    if (!list.empty()) list += ", ";
    list += std::to_string(BaudRateValue(static_cast<TBaudrate>(i)));
  }
  return list;
}

}  // namespace varnel::cli
