// Hex text of the boot-loader dialogue: command fields out, reply digits in.
// Pure functions; the arithmetic is exact because stored project files and
// loader replies depend on what odd characters decode to.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace varnel {

// Low 8 bits as two upper-case hex digits.
std::string HDPrev(std::int64_t value);
// Low 16 bits as four upper-case hex digits.
std::string HD16Prev(std::int64_t value);
// Text read as hex digits, most significant first, without validation: every
// character contributes one step ((code-48) mod 256, minus 7 when above 9),
// so "a" gives 42, ":" gives 3 and a blank 233. 32-bit wrap-around.
std::int32_t DecPrev(std::string_view text);
// The text without carriage returns, line feeds, blanks and prompts ('>').
std::string SeparateChar(std::string_view text);

}  // namespace varnel
