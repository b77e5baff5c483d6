// The port component's rates as the command line names them: every row of
// the port's rate table.
#include "cli/LineRates.h"

namespace varnel::cli {

std::optional<TBaudrate> LineRateFromText(const std::string& text) {
  for (const BaudRateInfo& row : kBaudRates) {
    if (text == row.text) return row.rate;
  }
  return std::nullopt;
}

std::string LineRateList() {
  std::string list;
  for (const BaudRateInfo& row : kBaudRates) {
    if (!list.empty()) list += ", ";
    list += row.text;
  }
  return list;
}

}  // namespace varnel::cli
