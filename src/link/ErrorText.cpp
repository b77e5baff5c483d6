#include "link/ErrorText.h"

#include <string.h>

namespace varnel {
namespace {

// strerror_r comes in two forms: one returns the text (not always in the
// buffer), the other fills the buffer and returns a status.
[[maybe_unused]] const char* TextOf(const char* text, const char*) { return text; }
[[maybe_unused]] const char* TextOf(int status, const char* buffer) {
  return status == 0 ? buffer : "";
}

}  // namespace

std::string ErrorText(int code) {
  char buffer[256] = "";
  std::string text = TextOf(strerror_r(code, buffer, sizeof buffer), buffer);
  if (text.empty()) text = "error " + std::to_string(code);
  return text;
}

}  // namespace varnel
