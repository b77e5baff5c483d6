// Intel HEX check of a program file, one pass over its lines.
#include "programming/ProgramCheck.h"

#include <cstring>

#include "core/FileBytes.h"
#include "programming/IntelHex.h"
#include "programming/TextLines.h"
#include "link/ErrorText.h"

namespace varnel {
namespace {

constexpr char kNothingSent[] = " Nothing was sent.";
constexpr std::size_t kFixedBytes = 5;  // count, address (2), type, checksum

enum RecordType : std::uint8_t {
  kData = 0x00,
  kEnd = 0x01,
  kSegmentBase = 0x02,
  kSegmentStart = 0x03,
  kLinearBase = 0x04,
  kLinearStart = 0x05,
};

std::string Hex(std::uint64_t value, int minDigits) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string out;
  while (value != 0 || static_cast<int>(out.size()) < minDigits) {
    out.insert(out.begin(), kDigits[value & 0x0F]);
    value >>= 4;
  }
  return out;
}

std::string Address(std::uint64_t address) { return Hex(address, 4) + "h"; }

std::string FlashText(std::uint32_t flashSize) {
  if (flashSize % 1024 == 0) return std::to_string(flashSize / 1024) + " KB";
  return std::to_string(flashSize) + " byte";
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

bool IsControl(unsigned char c) { return c < 0x20 || c == 0x7F; }

const char* TypeName(std::uint8_t type) {
  switch (type) {
    case kEnd: return "end record";
    case kSegmentBase: return "extended segment address record";
    case kSegmentStart: return "start segment address record";
    case kLinearBase: return "extended linear address record";
    case kLinearStart: return "start linear address record";
    default: return "record";
  }
}

std::size_t ExpectedCount(std::uint8_t type) {
  switch (type) {
    case kSegmentBase:
    case kLinearBase: return 2;
    case kSegmentStart:
    case kLinearStart: return 4;
    default: return 0;
  }
}

std::string Bytes(std::size_t n) {
  if (n == 0) return "none";
  return std::to_string(n) + (n == 1 ? " byte" : " bytes");
}

// Decodes one line into bytes (count, address, type, data, checksum), or
// says what keeps it from being a record.
std::string DecodeRecord(std::string_view line, std::vector<std::uint8_t>& bytes) {
  bytes.clear();
  if (line.front() != ':') return "not a record (it does not start with ':')";
  for (std::size_t i = 1; i < line.size(); ++i) {
    if (HexValue(line[i]) >= 0) continue;
    const auto c = static_cast<unsigned char>(line[i]);
    const std::string column = " in column " + std::to_string(i + 1);
    if (IsControl(c)) return "control character " + Hex(c, 2) + "h" + column;
    if (c < 0x80) return std::string("'") + line[i] + "'" + column + " is not a hex digit";
    return "byte " + Hex(c, 2) + "h" + column + " is not a hex digit";
  }
  const std::size_t digits = line.size() - 1;
  if (digits % 2 != 0) return "odd number of hex digits (" + std::to_string(digits) + ")";
  if (digits < 2 * kFixedBytes) {
    return "too short for a record (count, address, type and checksum take 10 digits)";
  }
  const auto pair = [&](std::size_t i) {
    return static_cast<std::uint8_t>(HexValue(line[i]) * 16 + HexValue(line[i + 1]));
  };
  const std::size_t held = digits / 2 - kFixedBytes;
  if (pair(1) != held) {
    return "count " + Hex(pair(1), 2) + "h, but " + Bytes(held) + " of data follow";
  }
  for (std::size_t i = 1; i < line.size(); i += 2) bytes.push_back(pair(i));
  const std::uint8_t expected = RecordChecksum(std::span(bytes).first(bytes.size() - 1));
  if (bytes.back() != expected) {
    return "checksum " + Hex(bytes.back(), 2) + ", expected " + Hex(expected, 2);
  }
  const std::uint8_t type = bytes[3];
  if (type > kLinearStart) return "unknown record type " + Hex(type, 2);
  if (type != kData && held != ExpectedCount(type)) {
    return std::string(TypeName(type)) + " with " + Bytes(held) + " of data, expected " +
           Bytes(ExpectedCount(type));
  }
  return {};
}

ProgramCheck Refuse(std::string text) {
  ProgramCheck result;
  result.error = std::move(text) + kNothingSent;
  return result;
}

std::string NameOf(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string TooLarge(std::string_view fileName, std::uint64_t size) {
  return std::string(fileName) + ": file too large (" + std::to_string(size) +
         " bytes; a program file holds at most 8 MB).";
}

}  // namespace

ProgramCheck RefuseTooLarge(std::string_view fileName, std::uint64_t size) {
  return Refuse(TooLarge(fileName, size));
}

ProgramCheck CheckProgramText(std::string_view text, std::string_view fileName,
                              std::uint32_t flashSize) {
  if (text.size() > kMaxProgramFileSize) return Refuse(TooLarge(fileName, text.size()));

  ProgramCheck result;
  std::string fault;
  int faultLine = 0;
  int endLine = 0;  // line of the end record, once seen
  bool anyData = false;
  std::uint64_t base = 0;  // from the last extended address record
  std::vector<std::uint8_t> bytes;

  ForEachLine(text, [&](std::string_view line, int number) {
    if (IsBlankLine(line)) return true;
    faultLine = number;
    if (endLine != 0) {
      fault = "record after the end record of line " + std::to_string(endLine);
      return false;
    }
    fault = DecodeRecord(line, bytes);
    if (!fault.empty()) return false;
    const std::uint8_t type = bytes[3];
    const std::uint64_t offset = bytes[1] * 256u + bytes[2];
    switch (type) {
      case kData:
        for (std::size_t i = 0; i + kFixedBytes < bytes.size(); ++i) {
          const std::uint64_t at = base + offset + i;
          if (at >= flashSize) {
            fault = "data at " + Address(at) + " lies beyond the " + FlashText(flashSize) +
                    " flash of the target";
            return false;
          }
          const std::uint8_t value = bytes[4 + i];
          const auto [it, added] = result.data.emplace(static_cast<std::uint32_t>(at), value);
          if (!added && it->second != value) {
            fault = "data at " + Address(at) + " is written twice with different values";
            return false;
          }
          anyData = true;
        }
        break;
      case kEnd: endLine = number; break;
      case kSegmentBase: base = (bytes[4] * 256u + bytes[5]) * 16u; break;
      case kLinearBase: base = std::uint64_t{bytes[4] * 256u + bytes[5]} << 16; break;
      default: break;  // start addresses mean nothing to the boot loader's flash
    }
    result.records.push_back({number, std::string(line)});
    return true;
  });

  const std::string name(fileName);
  if (!fault.empty()) {
    return Refuse(name + ", line " + std::to_string(faultLine) + ": " + fault + ".");
  }
  if (!anyData) return Refuse(name + ": no data record.");
  result.endRecord = endLine != 0;
  result.ok = true;
  return result;
}

ProgramCheck CheckProgramFile(const std::string& path, std::uint32_t flashSize) {
  const std::string name = NameOf(path);
  const FileRead file = ReadWholeFile(path, kMaxProgramFileSize);
  switch (file.fault) {
    case ReadFault::None: return CheckProgramText(file.bytes, name, flashSize);
    case ReadFault::NotAFile: return Refuse(name + ": not a file.");
    case ReadFault::TooLarge: return Refuse(TooLarge(name, file.size));
    case ReadFault::Missing:
    case ReadFault::CannotOpen:
    case ReadFault::CannotRead: break;
  }
  return Refuse(name + ": cannot be read (" + ErrorText(file.code) + ").");
}

}  // namespace varnel
