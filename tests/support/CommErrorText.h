// The message a serial port operation raises, for tests that check the
// component's exact error texts.
#pragma once

#include <functional>
#include <string>

#include "link/CommTypes.h"

namespace varnel::testing {

inline std::string ErrorText(const std::function<void()>& action) {
  try {
    action();
  } catch (const ECommError& e) {
    return e.what();
  }
  return "no error";
}

}  // namespace varnel::testing
