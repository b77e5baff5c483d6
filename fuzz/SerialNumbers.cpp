// The serial-number texts a user gives: --serial's ADDR:LEN[:FORMAT] and the
// counter file's number.
//  - a place either is refused naming --serial, or lies inside the flash
//    with a length its format can hold, and written back as text it reads
//    as the same place;
//  - a counter text either is refused naming its file, or is a decimal
//    number alone on a line whose value it gives, and the text the next
//    number is written as reads back as that number;
//  - a number's bytes are there exactly when it fits, and read back (le,
//    be, digits) give the number.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstdio>
#include <string>

#include "Require.h"
#include "StationSerial.h"
#include "cli/Options.h"

namespace varnel::fuzz {
namespace {

using cli::SerialSpec;

const char* FormatName(SerialSpec::Format format) {
  switch (format) {
    case SerialSpec::Format::Le: return "le";
    case SerialSpec::Format::Be: return "be";
    case SerialSpec::Format::Ascii: return "ascii";
  }
  return "";
}

bool Parse(const std::string& text, SerialSpec& spec) {
  try {
    spec = cli::ParseSerialSpec(text);
    return true;
  } catch (const cli::UsageError& e) {
    Require(std::string(e.what()).starts_with("--serial needs "), "a refusal names --serial: " + std::string(e.what()));
    return false;
  }
}

void Place(const std::string& text) {
  SerialSpec spec;
  if (!Parse(text, spec)) return;
  const std::uint32_t most = spec.format == SerialSpec::Format::Ascii ? 20 : 8;
  Require(spec.length >= 1 && spec.length <= most, "a length the format can hold");
  Require(spec.address + spec.length <= 0x8000, "the place lies inside the flash");
  char again[64];
  std::snprintf(again, sizeof again, "%04Xh:%u:%s", spec.address, spec.length, FormatName(spec.format));
  SerialSpec back;
  Require(Parse(again, back), std::string("a place written back is taken: ") + again);
  Require(back.address == spec.address && back.length == spec.length && back.format == spec.format,
          std::string("a place written back is the same place: ") + again);
}

void Counter(const std::string& text) {
  std::string refusal;
  const std::optional<std::uint64_t> parsed = CounterNumber("next.txt", text, refusal);
  if (!parsed) {
    Require(refusal.starts_with("next.txt "), "a refusal names the file");
    return;
  }
  const std::uint64_t number = *parsed;
  // Independently: digits, then nothing but blanks and line ends.
  std::size_t end = 0;
  unsigned __int128 value = 0;
  while (end < text.size() && text[end] >= '0' && text[end] <= '9') value = value * 10 + (text[end++] - '0');
  Require(end > 0, "a number has digits");
  Require(text.find_first_not_of(" \t\r\n", end) == std::string::npos, "nothing follows the number");
  Require(value == number, "the number is the digits' value");
  if (number < UINT64_MAX) {
    const std::string next = std::to_string(number + 1) + "\n";
    Require(CounterNumber("next.txt", next, refusal) == number + 1, "the next number reads back");
  }
}

void Bytes(const std::string& text, std::uint64_t number) {
  SerialSpec spec;
  if (!Parse(text, spec)) return;
  const int format = spec.format == SerialSpec::Format::Be ? 1 : spec.format == SerialSpec::Format::Ascii ? 2 : 0;
  const auto bytes = NumberBytes(spec.address, spec.length, format, number);
  if (spec.format == SerialSpec::Format::Ascii) {
    const std::string digits = std::to_string(number);
    Require(bytes.has_value() == (digits.size() <= spec.length), "digits fit exactly when they are few enough");
    if (!bytes) return;
    Require(bytes->size() == spec.length, "as many bytes as the place");
    Require(bytes->find_first_not_of("0123456789") == std::string::npos, "digits only");
    Require(std::stoull(*bytes) == number, "the digits read back as the number");
    return;
  }
  const bool fits = spec.length >= 8 || number >> (8 * spec.length) == 0;
  Require(bytes.has_value() == fits, "a binary number fits exactly when its high bytes are zero");
  if (!bytes) return;
  Require(bytes->size() == spec.length, "as many bytes as the place");
  std::uint64_t back = 0;
  for (std::size_t i = 0; i < bytes->size(); ++i) {
    const std::size_t at = spec.format == SerialSpec::Format::Le ? bytes->size() - 1 - i : i;
    back = back << 8 | static_cast<unsigned char>((*bytes)[at]);
  }
  Require(back == number, "the bytes read back as the number");
}

}  // namespace
}  // namespace varnel::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace varnel::fuzz;
  FuzzedDataProvider in(data, size);
  switch (in.ConsumeIntegralInRange(0, 2)) {
    case 0: Place(in.ConsumeRemainingBytesAsString()); break;
    case 1: Counter(in.ConsumeRemainingBytesAsString()); break;
    default: {
      const auto number = in.ConsumeIntegral<std::uint64_t>();
      Bytes(in.ConsumeRemainingBytesAsString(), number);
      break;
    }
  }
  return 0;
}
