// The system's text for an error number, safe on any thread: boards run
// side by side, and std::strerror may hand every thread the same buffer.
#pragma once

#include <string>

namespace varnel {

std::string ErrorText(int code);

}  // namespace varnel
