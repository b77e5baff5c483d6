// The one whole-file reader: what it hands back, and why it refuses.
#include "core/FileBytes.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>

#include "support/Files.h"

namespace varnel {
namespace {

using testing::ToolFolder;
using testing::WriteFile;

TEST(ReadWholeFile, GivesEveryByteOrSaysWhyNot) {
  ToolFolder folder;
  ASSERT_TRUE(folder.Valid());
  const std::string bytes("\x00\x01\xFF\r\n:00000001FF", 16);
  WriteFile(folder.Path("image.bin"), bytes);

  FileRead r = ReadWholeFile(folder.Path("image.bin"));
  EXPECT_EQ(r.fault, ReadFault::None);
  EXPECT_EQ(r.bytes, bytes);

  // At the limit a file is read; one byte over, it is refused unread with
  // its size.
  r = ReadWholeFile(folder.Path("image.bin"), bytes.size());
  EXPECT_EQ(r.fault, ReadFault::None);
  r = ReadWholeFile(folder.Path("image.bin"), bytes.size() - 1);
  EXPECT_EQ(r.fault, ReadFault::TooLarge);
  EXPECT_EQ(r.size, bytes.size());
  EXPECT_FALSE(r.grew);
  EXPECT_EQ(r.bytes, "");

  r = ReadWholeFile(folder.Path("missing.hex"));
  EXPECT_EQ(r.fault, ReadFault::Missing);
  EXPECT_EQ(r.code, ENOENT);
  r = ReadWholeFile(folder.Path("image.bin/inside"));
  EXPECT_EQ(r.fault, ReadFault::Missing);

  std::filesystem::create_directory(folder.Path("dir.hex"));
  EXPECT_EQ(ReadWholeFile(folder.Path("dir.hex")).fault, ReadFault::NotAFile);
}

TEST(ReadWholeFile, TheSettingsReadKeepsItsOutcomesAndTexts) {
  ToolFolder folder;
  ASSERT_TRUE(folder.Valid());
  std::string bytes = "stale";
  std::string error;
  EXPECT_EQ(ReadFileBytes(folder.Path("none.ini"), bytes, &error), ReadOutcome::Missing);
  EXPECT_EQ(bytes, "");
  EXPECT_EQ(error, "");

  std::filesystem::create_directory(folder.Path("dir.ini"));
  EXPECT_EQ(ReadFileBytes(folder.Path("dir.ini"), bytes, &error), ReadOutcome::Failed);
  EXPECT_EQ(error, "Not a regular file: " + folder.Path("dir.ini"));

  WriteFile(folder.Path("big.ini"), std::string(kMaxSettingsFileSize + 1, ';'));
  EXPECT_EQ(ReadFileBytes(folder.Path("big.ini"), bytes, &error), ReadOutcome::Failed);
  EXPECT_EQ(error, "Too large for a settings file: " + folder.Path("big.ini"));
  EXPECT_EQ(bytes, "");

  WriteFile(folder.Path("a.ini"), "[Properties]\n");
  EXPECT_EQ(ReadFileBytes(folder.Path("a.ini"), bytes, &error), ReadOutcome::Read);
  EXPECT_EQ(bytes, "[Properties]\n");
}

}  // namespace
}  // namespace varnel
