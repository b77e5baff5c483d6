// The settings' rates.
#include "core/BaudRates.h"

namespace varnel {

const BaudRateInfo* OfferedRateNamed(std::string_view text) {
  for (const BaudRateInfo& row : OfferedBaudRates()) {
    if (text == row.text) return &row;
  }
  return nullptr;
}

TBaudrate BaudRateFromText(std::string_view text) {
  // A typed rate outside the list has no row; the loader's own default rate
  // is the safe choice.
  const BaudRateInfo* row = OfferedRateNamed(text);
  return row ? row->rate : kDefaultBaudRate;
}

}  // namespace varnel
