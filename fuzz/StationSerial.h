// The station's counter text and number bytes, behind plain types: the
// option parser's headers and the public API's both name a ProgramOptions,
// so no file includes both.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace varnel::fuzz {

// The counter text's number; nullopt and why when the text holds none.
std::optional<std::uint64_t> CounterNumber(const std::string& path, const std::string& text,
                                           std::string& refusal);
// format: 0 little-endian, 1 big-endian, 2 decimal digits.
std::optional<std::string> NumberBytes(std::uint32_t address, std::uint32_t length, int format,
                                       std::uint64_t number);

}  // namespace varnel::fuzz
