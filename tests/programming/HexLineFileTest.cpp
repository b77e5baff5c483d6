#include "programming/HexLineFile.h"

#include <gtest/gtest.h>

#include "programming/ProgramCheck.h"
#include "programming/ProgramFile.h"
#include "support/Files.h"

namespace varnel {
namespace {

using testing::ToolFolder;
using testing::WriteFile;

const std::string kA = ":03000000020006F5";
const std::string kB = ":0300030002007781";
const std::string kEnd = ":00000001FF";

std::vector<std::string> ReadLines(const std::string& path) {
  HexLineFile file;
  EXPECT_TRUE(file.Open(path)) << file.ErrorText();
  std::vector<std::string> lines;
  for (std::string line;;) {
    const HexLineFile::Result r = file.Next(line);
    if (r != HexLineFile::Result::Line) {
      EXPECT_EQ(r, HexLineFile::Result::End) << file.ErrorText();
      break;
    }
    lines.push_back(line);
  }
  return lines;
}

// The run sends what the line file hands out; the count and the check must
// see the very same lines, whatever the line ends.
TEST(HexLineFileTest, LineFileCountAndCheckAgreeOnEveryLineEndStyle) {
  ToolFolder folder;
  ASSERT_TRUE(folder.Valid());
  const std::string path = folder.Path("prog.hex");
  const std::vector<std::string> records = {kA, kB, kEnd};
  const std::vector<std::string> texts = {
      kA + "\r" + kB + "\r" + kEnd + "\r",          // CR only, as old Mac tools write
      kA + "\r" + kB + "\r" + kEnd,                 // ... without a last line end
      kA + "\n" + kB + "\n" + kEnd + "\n",
      kA + "\r\n" + kB + "\r\n" + kEnd + "\r\n",
      "\r" + kA + "\r\r\n \t\n" + kB + "\n\r" + kEnd,  // mixed, with blank lines
  };
  for (const std::string& text : texts) {
    WriteFile(path, text);
    EXPECT_EQ(ReadLines(path), records) << text;
    EXPECT_EQ(CountRecordLines(text), 3) << text;
    const ProgramCheck check = CheckProgramText(text, "prog.hex", 32 * 1024);
    ASSERT_TRUE(check.ok) << check.error;
    std::vector<std::string> checked;
    for (const auto& r : check.records) checked.push_back(r.text);
    EXPECT_EQ(checked, records) << text;
  }
}

TEST(HexLineFileTest, LineEndsSplitAcrossReadsAndPeekBeforeNext) {
  ToolFolder folder;
  ASSERT_TRUE(folder.Valid());
  const std::string path = folder.Path("prog.hex");
  // The file is read in pieces of 4096 bytes: a CR LF, or a lone CR, whose
  // CR is the last byte of one piece.
  for (const std::string end : {"\r\n", "\r", "\n"}) {
    for (std::size_t crAt : {4094u, 4095u, 4096u, 8191u}) {
      const std::string first = ":" + std::string(crAt - 1, 'A');
      const std::string text = first + end + kA + end + kEnd;
      WriteFile(path, text);
      EXPECT_EQ(ReadLines(path), (std::vector<std::string>{first, kA, kEnd})) << crAt;
      EXPECT_EQ(CountRecordLines(text), 3);
    }
  }

  WriteFile(path, kA + "\r" + kB + "\r");
  HexLineFile file;
  ASSERT_TRUE(file.Open(path));
  std::string line;
  EXPECT_EQ(file.Peek(), HexLineFile::Result::Line);
  EXPECT_EQ(file.Peek(), HexLineFile::Result::Line);
  ASSERT_EQ(file.Next(line), HexLineFile::Result::Line);
  EXPECT_EQ(line, kA);
  ASSERT_EQ(file.Next(line), HexLineFile::Result::Line);
  EXPECT_EQ(line, kB);
  EXPECT_EQ(file.Peek(), HexLineFile::Result::End);
  EXPECT_EQ(file.Next(line), HexLineFile::Result::End);
}

TEST(HexLineFileTest, OneHugeLineIsReadInOnePass) {
  ToolFolder folder;
  ASSERT_TRUE(folder.Valid());
  const std::string path = folder.Path("huge.hex");
  const std::string huge(32 * 1024 * 1024, '0');
  WriteFile(path, huge + "\r" + kEnd);
  const auto lines = ReadLines(path);
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0].size(), huge.size());
  EXPECT_EQ(lines[1], kEnd);
  EXPECT_EQ(CountRecordLines(huge + "\r" + kEnd), 2);
}

}  // namespace
}  // namespace varnel
