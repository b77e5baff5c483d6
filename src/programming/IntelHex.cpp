// Intel HEX writing of a byte range.
#include "programming/IntelHex.h"

#include <algorithm>
#include <stdexcept>

namespace varnel {
namespace {

constexpr std::size_t kChunk = 16;
constexpr char kDigits[] = "0123456789ABCDEF";

void AppendByte(std::string& out, std::uint8_t byte) {
  out += kDigits[byte >> 4];
  out += kDigits[byte & 0x0F];
}

void AppendRecord(std::string& out, std::uint8_t type, std::uint16_t address,
                  std::span<const std::uint8_t> data) {
  const auto count = static_cast<std::uint8_t>(data.size());
  const auto high = static_cast<std::uint8_t>(address >> 8);
  const auto low = static_cast<std::uint8_t>(address);
  unsigned sum = count + high + low + type;
  out += ':';
  AppendByte(out, count);
  AppendByte(out, high);
  AppendByte(out, low);
  AppendByte(out, type);
  for (std::uint8_t b : data) {
    AppendByte(out, b);
    sum += b;
  }
  AppendByte(out, static_cast<std::uint8_t>(0x100 - (sum & 0xFF)));
  out += "\r\n";
}

void AppendBase(std::string& out, std::uint8_t type, std::uint32_t value) {
  const std::uint8_t field[2] = {static_cast<std::uint8_t>(value >> 8),
                                 static_cast<std::uint8_t>(value)};
  AppendRecord(out, type, 0, field);
}

}  // namespace

std::string WriteIntelHex(std::span<const std::uint8_t> bytes, std::uint32_t base) {
  const std::uint64_t end = std::uint64_t{base} + bytes.size();
  if (end > 0x100000000ULL) {
    throw std::out_of_range("the range ends beyond the 4 GB an Intel HEX file can address");
  }
  std::string out;
  out.reserve(bytes.size() / kChunk * 44 + 60);
  std::uint64_t segmentBase = 0;  // from type 02 records, below 1 MB
  std::uint64_t linearBase = 0;   // from type 04 records
  std::uint64_t where = base;
  std::size_t at = 0;
  while (at < bytes.size()) {
    std::size_t now = std::min(kChunk, bytes.size() - at);
    if (where > segmentBase + linearBase + 0xFFFF) {
      if (linearBase == 0 && where <= 0xFFFFF) {
        segmentBase = where & 0xF0000;
        AppendBase(out, 0x02, static_cast<std::uint32_t>(segmentBase >> 4));
      } else {
        // Readers may add both bases: a segment base in force is reset
        // before the first linear one.
        if (segmentBase != 0) {
          AppendBase(out, 0x02, 0);
          segmentBase = 0;
        }
        linearBase = where & 0xFFFF0000;
        AppendBase(out, 0x04, static_cast<std::uint32_t>(linearBase >> 16));
      }
    }
    const std::uint64_t offset = where - segmentBase - linearBase;
    if (offset + now > 0x10000) now = static_cast<std::size_t>(0x10000 - offset);
    AppendRecord(out, 0x00, static_cast<std::uint16_t>(offset), bytes.subspan(at, now));
    at += now;
    where += now;
  }
  out += ":00000001FF\r\n";
  return out;
}

}  // namespace varnel
