// Intel HEX text of a byte range, byte for byte the text the GNU binary
// utilities write when they convert a raw image placed at the same base
// address, so a file written here and one prepared by hand are the same.
#pragma once

#include <cstdint>
#include <span>
#include <string>

namespace varnel {

// The bytes as Intel HEX loaded from base: data records of 16 bytes counted
// from base (a record never crosses a 64 KB boundary: it is cut short there
// and the next one starts on the boundary), each line ended by CR LF, then
// the end record. Addresses up to FFFFFh are reached with extended segment
// address records (type 02), higher ones with extended linear address
// records (type 04); a base record is written only when a record's address
// leaves the 64 KB window of the last one, so a range below 64 KB has none.
// No bytes give the end record alone. Throws std::out_of_range when the
// range runs past the 4 GB an Intel HEX file can address.
std::string WriteIntelHex(std::span<const std::uint8_t> bytes, std::uint32_t base);

}  // namespace varnel
