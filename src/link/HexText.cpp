// Hex text helpers of the boot-loader dialogue.
#include "link/HexText.h"

namespace varnel {
namespace {

char digit(unsigned nibble) {
  return static_cast<char>(nibble < 10 ? 48 + nibble : 55 + nibble);
}

}  // namespace

std::string HDPrev(std::int64_t value) {
  const auto v = static_cast<unsigned>(static_cast<std::uint64_t>(value) & 0xFFu);
  return {digit(v / 16), digit(v % 16)};
}

std::string HD16Prev(std::int64_t value) {
  const auto v = static_cast<unsigned>(static_cast<std::uint64_t>(value) & 0xFFFFu);
  return {digit((v / 4096) % 16), digit((v / 256) % 16), digit((v / 16) % 16), digit(v % 16)};
}

std::int32_t DecPrev(std::string_view text) {
  std::uint32_t result = 0;  // unsigned: the 32-bit wrap is intended
  for (unsigned char c : text) {
    unsigned t = (c - 48u) & 0xFFu;
    if (t > 9) t = (t - 7u) & 0xFFu;
    result = result * 16u + t;
  }
  return static_cast<std::int32_t>(result);
}

std::string SeparateChar(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    if (c != '\r' && c != '\n' && c != ' ' && c != '>') out.push_back(c);
  }
  return out;
}

}  // namespace varnel
