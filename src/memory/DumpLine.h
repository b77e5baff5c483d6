// One line of a memory view's hex dump: address, sixteen cells in hex and
// the same cells as characters, 72 characters of the 8-bit character set.
#pragma once

#include <cstdint>
#include <string>

#include "core/MemoryImages.h"

namespace varnel {

inline constexpr int kDumpLineLength = 72;
inline constexpr int kDumpCellsPerLine = 16;
// Column after which the view draws its margin line: between the last hex
// cell's trailing blank and the blank before the character column.
inline constexpr int kDumpMarginColumn = 55;

// Cells below 14h show as the character FFh; everything from 14h on (the
// control codes 14h-1Fh too) is placed as its own character code.
char DumpCharacter(std::uint8_t cell);

// The line for cells address..address+15 of image ("0010 - 41 42 ... AB..").
// Cells beyond the image read FFh.
std::string DumpLine(const MemoryImage& image, std::int32_t address);
// Appends the same line to out without building a temporary.
void AppendDumpLine(std::string& out, const MemoryImage& image, std::int32_t address);

}  // namespace varnel
