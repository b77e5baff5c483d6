// A board's serial number as text and bytes: the counter file's text, and
// the number as the bytes the image holds.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "cli/Options.h"

namespace varnel::cli {

// The number a counter file's text holds: a decimal number alone on a line
// (spaces and a line end after it allowed) of 64 bits. Throws CliFailure
// (bad usage) naming path when the text is no such number.
std::uint64_t ParseCounterText(const std::string& path, const std::string& text);

// The number as LEN bytes in the format; nullopt when it does not fit.
std::optional<std::string> SerialBytes(const SerialSpec& spec, std::uint64_t number);

}  // namespace varnel::cli
