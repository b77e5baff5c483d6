// The line rates the settings offer, in one list: the speed box shows
// these texts, and a text's position in it is the port's TBaudrate.
#pragma once

#include <string>
#include <vector>

#include "link/CommTypes.h"

namespace varnel {

// The ten texts the speed box offers, in TBaudrate order.
const std::vector<std::string>& BaudTexts();
// The rate a baud text selects: its position in the list 110 ... 38400 is
// the TBaudrate; a text outside the list selects 9600.
TBaudrate BaudRateFromText(const std::string& text);

}  // namespace varnel
