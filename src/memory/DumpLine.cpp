// Dump lines of the memory views.
#include "memory/DumpLine.h"

namespace varnel {
namespace {

constexpr char kHexDigits[] = "0123456789ABCDEF";

void AppendHexByte(std::string& out, unsigned value) {
  out.push_back(kHexDigits[(value >> 4) & 0xF]);
  out.push_back(kHexDigits[value & 0xF]);
}

}  // namespace

char DumpCharacter(std::uint8_t cell) {
  return static_cast<char>(cell < 0x14 ? 0xFF : cell);
}

void AppendDumpLine(std::string& out, const MemoryImage& image, std::int32_t address) {
  std::uint8_t cells[kDumpCellsPerLine];
  for (int i = 0; i < kDumpCellsPerLine; ++i) cells[i] = image.Read(std::int64_t{address} + i);

  AppendHexByte(out, static_cast<unsigned>(address >> 8));
  AppendHexByte(out, static_cast<unsigned>(address));
  out += " - ";
  for (std::uint8_t cell : cells) {
    AppendHexByte(out, cell);
    out.push_back(' ');
  }
  out.push_back(' ');
  for (std::uint8_t cell : cells) out.push_back(DumpCharacter(cell));
}

std::string DumpLine(const MemoryImage& image, std::int32_t address) {
  std::string line;
  line.reserve(kDumpLineLength);
  AppendDumpLine(line, image, address);
  return line;
}

}  // namespace varnel
