// What the station window shows of a firmware file before any board gets
// it: its name, size, the address ranges it writes and its SHA-256, the
// hash the record of every board names. Read once; a later read of the
// same path tells whether the file changed on disk since.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace varnel::station {

struct Firmware {
  bool ok = false;
  std::string error;   // why the file cannot be programmed
  std::string path;
  std::string name;    // the file name alone
  std::uint64_t size = 0;
  std::string sha256;  // of the file's bytes, lowercase hex; also when not ok
  std::vector<std::pair<std::uint32_t, std::uint32_t>> ranges;  // first, last address
  std::size_t dataBytes = 0;  // bytes the image writes
};

// Reads and checks the file for the largest flash of the family: Intel HEX
// (any name whose text starts with a record) or a raw .bin loaded at 0000h.
Firmware ReadFirmware(const std::string& path);

// "0000h-008Fh, 7FF0h-7FFFh".
std::string RangesText(const Firmware& firmware);

}  // namespace varnel::station
