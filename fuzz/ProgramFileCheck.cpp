// The program-file check and the two writers of Intel HEX text:
//  - a raw image converted for download, and a byte range written at any
//    base, read back by the check give exactly those bytes at their addresses;
//  - whatever the text, a file the check accepts hands on its non-blank
//    lines as its records, and a data map that an independent reading of
//    those records gives too, inside the flash; a refusal names the file and
//    says that nothing was sent.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

#include "Require.h"
#include "programming/IntelHex.h"
#include "programming/ProgramCheck.h"
#include "programming/ProgramFile.h"

namespace varnel::fuzz {
namespace {

using DataMap = std::map<std::uint32_t, std::uint8_t>;

// Lines split at CR LF, lone CR and LF, without their ends.
std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::string line;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r' || text[i] == '\n') {
      if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
      lines.push_back(line);
      line.clear();
    } else {
      line += text[i];
    }
  }
  if (!line.empty()) lines.push_back(line);
  return lines;
}

bool Blank(const std::string& line) { return line.find_first_not_of(" \t\f\v") == std::string::npos; }

int Digit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// The bytes of one record, as Intel HEX defines it; false if it is none.
bool Decode(const std::string& record, std::vector<std::uint8_t>& bytes) {
  bytes.clear();
  if (record.size() < 11 || record[0] != ':' || record.size() % 2 == 0) return false;
  unsigned sum = 0;
  for (std::size_t i = 1; i < record.size(); i += 2) {
    const int high = Digit(record[i]), low = Digit(record[i + 1]);
    if (high < 0 || low < 0) return false;
    bytes.push_back(static_cast<std::uint8_t>(high * 16 + low));
    sum += bytes.back();
  }
  return (sum & 0xFF) == 0 && bytes.size() == 5u + bytes[0];
}

// What the records write, or false when one of them is no record.
bool DataOf(const std::vector<CheckedRecord>& records, DataMap& data) {
  std::uint64_t base = 0;
  std::vector<std::uint8_t> b;
  for (const CheckedRecord& r : records) {
    if (!Decode(r.text, b)) return false;
    const std::uint64_t offset = b[1] * 256u + b[2];
    switch (b[3]) {
      case 0x00:
        for (std::size_t i = 0; i < b[0]; ++i) {
          data[static_cast<std::uint32_t>(base + offset + i)] = b[4 + i];
        }
        break;
      case 0x02: base = (b[4] * 256u + b[5]) * 16u; break;
      case 0x04: base = static_cast<std::uint64_t>(b[4] * 256u + b[5]) << 16; break;
      default: break;
    }
  }
  return true;
}

DataMap Placed(const std::vector<std::uint8_t>& bytes, std::uint64_t base) {
  DataMap data;
  for (std::size_t i = 0; i < bytes.size(); ++i) data[static_cast<std::uint32_t>(base + i)] = bytes[i];
  return data;
}

void ImageRoundTrip(const std::vector<std::uint8_t>& image) {
  if (image.size() > 0x10000) return;  // beyond 64 KB the addresses wrap, as they are meant to
  const ConvertedImage hex = ConvertImage(image);
  const ProgramCheck check = CheckProgramText(hex.text, "image.hex", 0x10000);
  if (image.empty()) {
    Require(!check.ok, "an empty image has nothing to program");
    return;
  }
  Require(check.ok, "a converted image passes the check: " + check.error);
  Require(check.data == Placed(image, 0), "a converted image reads back as the image");
  Require(static_cast<int>(check.records.size()) == hex.dataRecords + 1,
          "a converted image is its data records and the end record");
}

void WrittenRange(const std::vector<std::uint8_t>& bytes, std::uint32_t base) {
  const std::uint64_t end = std::uint64_t{base} + bytes.size();
  std::string text;
  try {
    text = WriteIntelHex(bytes, base);
  } catch (const std::out_of_range&) {
    Require(end > 0x100000000ULL, "a range inside 4 GB is written");
    return;
  }
  Require(end <= 0x100000000ULL, "a range past 4 GB is refused");
  // The check's flash ends below FFFFFFFFh, so the very last byte is outside.
  const ProgramCheck check = CheckProgramText(text, "range.hex", 0xFFFFFFFFu);
  if (bytes.empty() || end == 0x100000000ULL) {
    Require(!check.ok, "nothing, or a byte at FFFFFFFFh, is refused");
    return;
  }
  Require(check.ok, "a written range passes the check: " + check.error);
  Require(check.data == Placed(bytes, base), "a written range reads back as the bytes");
}

void AnyText(const std::string& text, std::uint32_t flashSize) {
  const ProgramCheck check = CheckProgramText(text, "any.hex", flashSize);
  if (!check.ok) {
    Require(check.error.starts_with("any.hex"), "a refusal names the file: " + check.error);
    Require(check.error.ends_with(" Nothing was sent."), "a refusal says nothing was sent");
    return;
  }
  std::vector<std::string> expected;
  for (const std::string& line : Lines(text)) {
    if (!Blank(line)) expected.push_back(line);
  }
  std::vector<std::string> handed;
  for (const CheckedRecord& r : check.records) handed.push_back(r.text);
  Require(handed == expected, "the records handed on are the file's non-blank lines");
  DataMap data;
  Require(DataOf(check.records, data), "every record handed on is a record");
  Require(data == check.data, "the data map is what the records write");
  Require(!data.empty(), "an accepted file writes something");
  Require(data.rbegin()->first < flashSize, "every byte lies inside the flash");
}

}  // namespace
}  // namespace varnel::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace varnel::fuzz;
  FuzzedDataProvider in(data, size);
  switch (in.ConsumeIntegralInRange(0, 2)) {
    case 0:
      ImageRoundTrip(in.ConsumeRemainingBytes<std::uint8_t>());
      break;
    case 1: {
      const auto base = in.ConsumeIntegral<std::uint32_t>();
      WrittenRange(in.ConsumeRemainingBytes<std::uint8_t>(), base);
      break;
    }
    default: {
      const auto flash = in.ConsumeIntegralInRange<std::uint32_t>(1, 0x20000);
      AnyText(in.ConsumeRemainingBytesAsString(), flash);
      break;
    }
  }
  return 0;
}
