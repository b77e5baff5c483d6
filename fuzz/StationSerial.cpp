#include "StationSerial.h"

#include "lib/Records.h"
#include "varnel/errors.h"

namespace varnel::fuzz {

std::optional<std::uint64_t> CounterNumber(const std::string& path, const std::string& text,
                                           std::string& refusal) {
  try {
    return lib::ParseCounterText(path, text);
  } catch (const BadFile& e) {
    refusal = e.what();
    return std::nullopt;
  }
}

std::optional<std::string> NumberBytes(std::uint32_t address, std::uint32_t length, int format,
                                       std::uint64_t number) {
  const SerialSpec spec{address, length,
                        format == 1   ? SerialSpec::Format::Be
                        : format == 2 ? SerialSpec::Format::Ascii
                                      : SerialSpec::Format::Le};
  return lib::SerialBytes(spec, number);
}

}  // namespace varnel::fuzz
