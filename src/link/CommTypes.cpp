// The serial port's error text.
#include "link/CommTypes.h"

namespace varnel {

ECommError::ECommError(const std::string& text, int code)
    : std::runtime_error(text + " (Error: " + std::to_string(code) + ") "), code_(code) {}

}  // namespace varnel
