#include "programming/IntelHex.h"

#include <gtest/gtest.h>

#include <random>
#include <stdexcept>
#include <sys/stat.h>

#include "support/Files.h"
#include "core/FileBytes.h"
#include "support/FileFaults.h"

namespace varnel {
namespace {

using testing::ReadFile;
using testing::ObjcopyIntelHex;
using testing::ToolFolder;
using testing::WriteFile;

std::vector<std::uint8_t> RandomBytes(std::size_t n, unsigned seed) {
  std::mt19937 random(seed);
  std::vector<std::uint8_t> bytes(n);
  for (auto& b : bytes) b = static_cast<std::uint8_t>(random());
  return bytes;
}

std::string Text(const std::vector<std::uint8_t>& bytes) {
  return {bytes.begin(), bytes.end()};
}

// What objcopy writes for the raw image bytes placed at base.
std::string Objcopy(const ToolFolder& folder, const std::vector<std::uint8_t>& bytes,
                    std::uint32_t base, int* status = nullptr) {
  WriteFile(folder.Path("in.bin"), Text(bytes));
  return ObjcopyIntelHex(folder.Path("in.bin"), folder.Path("out.hex"), base, status);
}

TEST(IntelHexTest, SameTextAsObjcopyForSizesAndBases) {
  ToolFolder folder;
  ASSERT_TRUE(folder.Valid());
  int status = -1;
  Objcopy(folder, {0x12}, 0, &status);
  ASSERT_EQ(status, 0) << "objcopy of binutils is needed for this test";

  // Bases: the code flash, the configuration page, odd starts, starts just
  // below a 64 KB boundary, segment bases, the step from segment to linear
  // bases at 1 MB, and linear bases up to the top of the 4 GB range.
  const std::uint32_t bases[] = {0,       0x8000,   0x8001,   0x807E,     0xFFF8,
                                 0xFFFF,  0x10000,  0x1FFF3,  0xFFFF8,    0x100000,
                                 0x1FFFFF, 0x12345678, 0xFFFEFFF7, 0xFFFFFF00};
  const std::size_t sizes[] = {1, 2, 15, 16, 17, 35, 255, 4099, 32768, 65535, 65536, 70001};
  unsigned seed = 1;
  for (std::uint32_t base : bases) {
    for (std::size_t size : sizes) {
      if (std::uint64_t{base} + size > 0x100000000ULL) continue;
      const auto bytes = RandomBytes(size, seed++);
      ASSERT_EQ(WriteIntelHex(bytes, base), Objcopy(folder, bytes, base))
          << "base " << std::hex << base << " size " << std::dec << size;
    }
  }
}

TEST(IntelHexTest, KnownRecordsAndTheSplitAtA64KBoundary) {
  std::vector<std::uint8_t> ramp(16);
  for (int i = 0; i < 16; ++i) ramp[i] = static_cast<std::uint8_t>(i);
  EXPECT_EQ(WriteIntelHex(ramp, 0),
            ":10000000000102030405060708090A0B0C0D0E0F78\r\n:00000001FF\r\n");
  const std::vector<std::uint8_t> cfg = {0x50, 0xFF};
  EXPECT_EQ(WriteIntelHex(cfg, 0x807E), ":02807E0050FFB1\r\n:00000001FF\r\n");

  // A record that would cross 64 KB stops at the boundary; after the new
  // base the records run in 16s from the boundary.
  const std::vector<std::uint8_t> bytes(40, 0x00);
  const std::string zeros(32, '0');
  EXPECT_EQ(WriteIntelHex(bytes, 0xFFF8), ":08FFF800" + zeros.substr(16) + "01\r\n" +
                                              ":020000021000EC\r\n" +
                                              ":10000000" + zeros + "F0\r\n" +
                                              ":10001000" + zeros + "E0\r\n" +
                                              ":00000001FF\r\n");
}

TEST(IntelHexTest, EmptyRangeAndTheTopOfTheAddressRange) {
  ToolFolder folder;
  ASSERT_TRUE(folder.Valid());
  // objcopy refuses an empty image and writes no file; no bytes here are the
  // end record alone, which is what a download of nothing sends.
  int status = 0;
  EXPECT_EQ(Objcopy(folder, {}, 0, &status), "");
  EXPECT_NE(status, 0);
  EXPECT_EQ(WriteIntelHex({}, 0), ":00000001FF\r\n");
  EXPECT_EQ(WriteIntelHex({}, 0x8000), ":00000001FF\r\n");

  // The last byte of 4 GB can be written; one byte more cannot, as objcopy
  // refuses too.
  const std::vector<std::uint8_t> sixteen(16, 0xAB);
  EXPECT_EQ(WriteIntelHex(sixteen, 0xFFFFFFF0), Objcopy(folder, sixteen, 0xFFFFFFF0));
  const std::vector<std::uint8_t> seventeen(17, 0xAB);
  EXPECT_THROW(WriteIntelHex(seventeen, 0xFFFFFFF0), std::out_of_range);
  Objcopy(folder, seventeen, 0xFFFFFFF0, &status);
  EXPECT_NE(status, 0);
}

// The Intel HEX files a run makes are written through the atomic replace of
// the file layer: the old file or the new one, never a part, and no litter.
TEST(IntelHexFileWriteTest, ReplacesWholeAndFailsWithoutTrace) {
  testing::TestFolder folder;
  const std::string hex = WriteIntelHex(RandomBytes(100, 7), 0);
  const std::string path = folder.Path("fwtmp.hex");
  std::string error;

  ASSERT_TRUE(ReplaceFileAtomically(path, hex, &error)) << error;
  EXPECT_EQ(ReadFile(path), hex);
  WriteFile(path, std::string(5000, 'z'));  // a longer file left from before
  ASSERT_TRUE(ReplaceFileAtomically(path, hex, &error)) << error;
  EXPECT_EQ(ReadFile(path), hex);

  // No such folder: the text names the file and the system's reason.
  const std::string lost = folder.Path("gone/fwtmp.hex");
  EXPECT_FALSE(ReplaceFileAtomically(lost, hex, &error));
  EXPECT_NE(error.find(lost), std::string::npos) << error;
  EXPECT_NE(error.find("No such file or directory"), std::string::npos) << error;

  // A folder that takes no new file.
  ::mkdir(folder.Path("locked").c_str(), 0755);
  const std::string locked = folder.Path("locked/fwtmp.hex");
  WriteFile(locked, "old");
  ::chmod(locked.c_str(), 0666);
  ::chmod(folder.Path("locked").c_str(), 0555);
  {
    testing::AsUnprivileged nobody;
    EXPECT_FALSE(ReplaceFileAtomically(locked, hex, &error));
  }
  ::chmod(folder.Path("locked").c_str(), 0755);
  EXPECT_NE(error.find(locked), std::string::npos) << error;
  EXPECT_NE(error.find("Permission denied"), std::string::npos) << error;
  EXPECT_EQ(ReadFile(locked), "old");

  // The disk runs full in the middle of the write.
  WriteFile(path, "old");
  {
    testing::FileSizeLimit limit(hex.size() / 2);
    EXPECT_FALSE(ReplaceFileAtomically(path, hex, &error));
  }
  EXPECT_NE(error.find(path), std::string::npos) << error;
  EXPECT_NE(error.find("File too large"), std::string::npos) << error;
  EXPECT_EQ(ReadFile(path), "old");

  // A folder where the file should be is not replaced.
  ::mkdir(folder.Path("dir.hex").c_str(), 0755);
  EXPECT_FALSE(ReplaceFileAtomically(folder.Path("dir.hex"), hex, &error));
  EXPECT_NE(error.find(folder.Path("dir.hex")), std::string::npos) << error;

  // No temporary file is left anywhere.
  std::vector<std::string> names;
  for (const auto& e : std::filesystem::directory_iterator(folder.Path())) {
    names.push_back(e.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"dir.hex", "fwtmp.hex", "locked"}));
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder.Path("locked")),
                          std::filesystem::directory_iterator()),
            1);
}

}  // namespace
}  // namespace varnel
