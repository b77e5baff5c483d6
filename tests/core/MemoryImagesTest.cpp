#include "core/MemoryImages.h"

#include <gtest/gtest.h>

namespace varnel {

TEST(MemoryImages, StartErasedWithTheTargetSizes) {
  MemoryImages images;
  EXPECT_EQ(images.CodeImage.Size(), 32768u);
  EXPECT_EQ(images.ExtRAMImage.Size(), 2048u);
  EXPECT_EQ(images.IRAMImage.Size(), 256u);
  EXPECT_EQ(images.SFRImage.Size(), 256u);
  EXPECT_EQ(images.CfgImage.Size(), 128u);
  for (auto kind : {MemoryKind::Code, MemoryKind::ExtRAM, MemoryKind::IRAM, MemoryKind::SFR,
                    MemoryKind::Cfg}) {
    for (auto cell : images.Of(kind).Cells()) ASSERT_EQ(cell, 0xFF);
  }
}

TEST(MemoryImages, WritesOutsideAnImageStoreNothingAndReadsStayInside) {
  MemoryImages images;
  images.IRAMImage.Write(0x100, 0x12);
  images.CodeImage.Write(0x8000, 0x12);
  images.CodeImage.Write(-1, 0x12);
  images.CfgImage.Write(MemoryImages::kHCR0Offset, 0x7F);
  images.CfgImage.Write(MemoryImages::kHCR1Offset, 0x50);
  for (auto cell : images.IRAMImage.Cells()) EXPECT_EQ(cell, 0xFF);
  for (auto cell : images.CodeImage.Cells()) ASSERT_EQ(cell, 0xFF);
  EXPECT_EQ(images.CfgImage.Read(0x7F), 0x7F);
  EXPECT_EQ(images.CfgImage.Read(0x7E), 0x50);
  EXPECT_EQ(images.CfgImage.Read(0x80), 0xFF);

  images.FillAll();
  EXPECT_EQ(images.CfgImage.Read(0x7F), 0xFF);
}

TEST(MemoryImages, CommandLetterSelectsTheImageItFills) {
  MemoryImages images;
  EXPECT_EQ(images.ByCommandLetter('C'), &images.CodeImage);
  EXPECT_EQ(images.ByCommandLetter('X'), &images.ExtRAMImage);
  EXPECT_EQ(images.ByCommandLetter('I'), &images.IRAMImage);
  EXPECT_EQ(images.ByCommandLetter('F'), &images.CfgImage);
  EXPECT_EQ(images.ByCommandLetter('R'), &images.SFRImage);
  EXPECT_EQ(images.ByCommandLetter('M'), nullptr);
  EXPECT_EQ(images.ByCommandLetter('c'), nullptr);
}

}  // namespace varnel
