// The line rates the command line takes: every rate the port component
// runs at, beyond the window's ten. The loader measures the host's rate
// from the wake-up carriage return, so a fast adapter may go faster.
#pragma once

#include <optional>
#include <string>

#include "link/CommTypes.h"

namespace varnel::cli {

// The rate a text names exactly ("115200"); none for any other text.
std::optional<TBaudrate> LineRateFromText(const std::string& text);
// "110, 300, ..., 256000", for a message.
std::string LineRateList();

}  // namespace varnel::cli
