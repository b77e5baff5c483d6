// Intel HEX records for tests, as a tool would write them. Built here, apart
// from the program's own writer, so that a fault in one shows against the
// other.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace varnel::testing {

// A record with its checksum: ":" + count + address + type + data + checksum.
inline std::string Record(std::uint8_t type, std::uint16_t address,
                          std::vector<std::uint8_t> data) {
  std::vector<std::uint8_t> bytes = {static_cast<std::uint8_t>(data.size()),
                                     static_cast<std::uint8_t>(address >> 8),
                                     static_cast<std::uint8_t>(address), type};
  bytes.insert(bytes.end(), data.begin(), data.end());
  unsigned sum = 0;
  for (auto b : bytes) sum += b;
  bytes.push_back(static_cast<std::uint8_t>(0x100 - (sum & 0xFF)));
  std::string text = ":";
  char pair[3];
  for (auto b : bytes) {
    std::snprintf(pair, sizeof pair, "%02X", b);
    text += pair;
  }
  return text;
}

}  // namespace varnel::testing
