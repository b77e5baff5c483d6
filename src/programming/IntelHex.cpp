// Intel HEX writing of a byte range.
#include "programming/IntelHex.h"

#include <algorithm>
#include <stdexcept>

#include "link/Commands.h"

namespace varnel {
namespace {

constexpr char kDigits[] = "0123456789ABCDEF";
constexpr std::size_t kMaxRecordData = 255;

void AppendByte(std::string& out, std::uint8_t byte) {
  out += kDigits[byte >> 4];
  out += kDigits[byte & 0x0F];
}

void AppendRecord(std::string& out, std::uint8_t type, std::uint32_t address,
                  std::span<const std::uint8_t> data) {
  if (data.size() > kMaxRecordData) throw std::length_error("a record holds at most 255 bytes");
  std::uint8_t fields[4 + kMaxRecordData] = {static_cast<std::uint8_t>(data.size()),
                                             static_cast<std::uint8_t>(address >> 8),
                                             static_cast<std::uint8_t>(address), type};
  std::copy(data.begin(), data.end(), fields + 4);
  const std::span<const std::uint8_t> all(fields, 4 + data.size());
  out += ':';
  for (std::uint8_t b : all) AppendByte(out, b);
  AppendByte(out, RecordChecksum(all));
}

void AppendBase(std::string& out, std::uint8_t type, std::uint32_t value, const char* lineEnd) {
  const std::uint8_t field[2] = {static_cast<std::uint8_t>(value >> 8),
                                 static_cast<std::uint8_t>(value)};
  AppendRecord(out, type, 0, field);
  out += lineEnd;
}

}  // namespace

std::uint8_t RecordChecksum(std::span<const std::uint8_t> fields) {
  unsigned sum = 0;
  for (std::uint8_t b : fields) sum += b;
  return static_cast<std::uint8_t>(0x100 - (sum & 0xFF));
}

std::string IntelHexRecord(std::uint8_t type, std::uint32_t address,
                           std::span<const std::uint8_t> data) {
  std::string out;
  AppendRecord(out, type, address, data);
  return out;
}

std::string WriteIntelHex(std::span<const std::uint8_t> bytes, std::uint32_t base,
                          const IntelHexLayout& layout) {
  const std::uint64_t end = std::uint64_t{base} + bytes.size();
  if (layout.baseRecords && end > 0x100000000ULL) {
    throw std::out_of_range("the range ends beyond the 4 GB an Intel HEX file can address");
  }
  std::string out;
  out.reserve(bytes.size() / kRecordBytes * 44 + 60);
  std::uint64_t segmentBase = 0;  // from type 02 records, below 1 MB
  std::uint64_t linearBase = 0;   // from type 04 records
  std::uint64_t where = base;
  std::size_t at = 0;
  while (at < bytes.size()) {
    std::size_t now = std::min(kRecordBytes, bytes.size() - at);
    if (layout.baseRecords && where > segmentBase + linearBase + 0xFFFF) {
      if (linearBase == 0 && where <= 0xFFFFF) {
        segmentBase = where & 0xF0000;
        AppendBase(out, 0x02, static_cast<std::uint32_t>(segmentBase >> 4), layout.lineEnd);
      } else {
        // Readers may add both bases: a segment base in force is reset
        // before the first linear one.
        if (segmentBase != 0) {
          AppendBase(out, 0x02, 0, layout.lineEnd);
          segmentBase = 0;
        }
        linearBase = where & 0xFFFF0000;
        AppendBase(out, 0x04, static_cast<std::uint32_t>(linearBase >> 16), layout.lineEnd);
      }
    }
    const std::uint64_t offset = (where - segmentBase - linearBase) & 0xFFFF;
    if (offset + now > 0x10000) now = static_cast<std::size_t>(0x10000 - offset);
    AppendRecord(out, 0x00, static_cast<std::uint32_t>(offset), bytes.subspan(at, now));
    out += layout.lineEnd;
    at += now;
    where += now;
  }
  out += cmd::kEndRecord;
  out += layout.lineEnd;
  return out;
}

}  // namespace varnel
