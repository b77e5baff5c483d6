// The counter file's text and the number's bytes.
#include "cli/SerialNumber.h"

#include <algorithm>
#include <charconv>

#include "cli/ExitStatus.h"

namespace varnel::cli {

std::uint64_t ParseCounterText(const std::string& path, const std::string& text) {
  const std::size_t end = text.find_last_not_of(" \t\r\n");
  const std::string digits = end == std::string::npos ? "" : text.substr(0, end + 1);
  bool ok = !digits.empty();
  for (const char c : digits) ok = ok && c >= '0' && c <= '9';
  std::uint64_t number = 0;
  // Up to the largest 64-bit number; one more digit would wrap.
  if (ok) ok = std::from_chars(digits.data(), digits.data() + digits.size(), number).ec == std::errc();
  if (!ok) {
    throw CliFailure(OutcomeKind::Refused,
                     path + " holds no serial number (a decimal number alone on a line)");
  }
  return number;
}

std::optional<std::string> SerialBytes(const SerialSpec& spec, std::uint64_t number) {
  if (spec.format == SerialSpec::Format::Ascii) {
    const std::string digits = std::to_string(number);
    if (digits.size() > spec.length) return std::nullopt;
    return std::string(spec.length - digits.size(), '0') + digits;
  }
  if (spec.length < 8 && (number >> (8 * spec.length)) != 0) return std::nullopt;
  std::string bytes;
  for (std::uint32_t i = 0; i < spec.length; ++i) {
    bytes += static_cast<char>((number >> (8 * i)) & 0xFF);
  }
  if (spec.format == SerialSpec::Format::Be) std::reverse(bytes.begin(), bytes.end());
  return bytes;
}

}  // namespace varnel::cli
