// Intel HEX writing, the one writer of records: the raw image conversion of
// a programming run, saved memory views and the command line's read all use
// it. With its default layout the text is byte for byte what the GNU binary
// utilities write when they convert a raw image placed at the same base
// address, so a file written here and one prepared by hand are the same.
#pragma once

#include <cstdint>
#include <span>
#include <string>

namespace varnel {

inline constexpr std::size_t kRecordBytes = 16;  // data bytes of a full record

// The record checksum of fields (count, address, type, data): the low byte
// of 100h minus their sum.
std::uint8_t RecordChecksum(std::span<const std::uint8_t> fields);

// One record as text, upper case, without a line end: ":" + count + the low
// 16 bits of address + type + data + checksum.
std::string IntelHexRecord(std::uint8_t type, std::uint32_t address,
                           std::span<const std::uint8_t> data);

struct IntelHexLayout {
  const char* lineEnd = "\r\n";
  // Beyond 64 KB: base records, or (false) the address field wraps to 0000h
  // with no base record, as the raw image conversion of a run writes.
  bool baseRecords = true;
};

// The bytes as Intel HEX loaded from base: data records of 16 bytes counted
// from base (a record never crosses a 64 KB boundary: it is cut short there
// and the next one starts on the boundary), each line ended by the layout's
// line end, then the end record. With base records, addresses up to FFFFFh
// are reached with extended segment address records (type 02), higher ones
// with extended linear address records (type 04); a base record is written
// only when a record's address leaves the 64 KB window of the last one, so a
// range below 64 KB has none. No bytes give the end record alone. Throws
// std::out_of_range when the range runs past the 4 GB an Intel HEX file can
// address.
std::string WriteIntelHex(std::span<const std::uint8_t> bytes, std::uint32_t base,
                          const IntelHexLayout& layout = {});

}  // namespace varnel
