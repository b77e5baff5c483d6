// The rates the settings offer: the port's rate table up to the fastest rate
// the boot loader runs at. A rate is stored and shown as its table text.
#pragma once

#include <span>
#include <string_view>

#include "link/CommTypes.h"

namespace varnel {

// The boot loader runs at 110 to 38400 baud.
inline constexpr TBaudrate kFastestLoaderRate = br38400;

// The rows of the rates the speed box offers, slowest first.
constexpr std::span<const BaudRateInfo> OfferedBaudRates() {
  return std::span(kBaudRates).first(kFastestLoaderRate + 1);
}

// The row of the offered rate a text names; nullptr for another text.
const BaudRateInfo* OfferedRateNamed(std::string_view text);
// The offered rate a text names; a text outside the offer selects the
// default rate.
TBaudrate BaudRateFromText(std::string_view text);

}  // namespace varnel
