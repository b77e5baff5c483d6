#include "memory/DumpLine.h"

#include <gtest/gtest.h>

namespace varnel {

TEST(DumpLine, ErasedCellsAndTheLineLayout) {
  MemoryImage image(0x100);
  const std::string line = DumpLine(image, 0x00F0);
  ASSERT_EQ(line.size(), 72u);
  std::string expected = "00F0 - ";
  for (int i = 0; i < 16; ++i) expected += "FF ";
  expected += ' ';
  expected += std::string(16, '\xFF');
  EXPECT_EQ(line, expected);
}

TEST(DumpLine, CharacterColumnThreshold) {
  MemoryImage image(0x8000);
  for (int i = 0; i < 16; ++i) image.Write(0x10 + i, static_cast<std::uint8_t>(0x41 + i));
  EXPECT_EQ(DumpLine(image, 0x10),
            "0010 - 41 42 43 44 45 46 47 48 49 4A 4B 4C 4D 4E 4F 50  ABCDEFGHIJKLMNOP");

  const std::uint8_t cells[] = {0x00, 0x13, 0x14, 0x1F, 0x20, 0x7F, 0xFF, 0x0A};
  for (int i = 0; i < 8; ++i) image.Write(0x7FF0 + i, cells[i]);
  const std::string line = DumpLine(image, 0x7FF0);
  EXPECT_EQ(line.substr(0, 31), "7FF0 - 00 13 14 1F 20 7F FF 0A ");
  EXPECT_EQ(line.substr(56, 8), std::string("\xFF\xFF\x14\x1F\x20\x7F\xFF\xFF", 8));
}

TEST(DumpLine, CellsBeyondTheImageReadErased) {
  MemoryImage image(0x100, 0x00);
  const std::string line = DumpLine(image, 0xF8);
  EXPECT_EQ(line.substr(7, 24), "00 00 00 00 00 00 00 00 ");
  EXPECT_EQ(line.substr(31, 24), "FF FF FF FF FF FF FF FF ");
}

}  // namespace varnel
