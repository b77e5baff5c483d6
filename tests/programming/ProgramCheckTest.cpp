#include "programming/ProgramCheck.h"

#include <gtest/gtest.h>

#include <random>

#include "programming/IntelHex.h"
#include "support/Files.h"
#include "support/IntelHexRecords.h"
#include "support/TestData.h"

namespace varnel {
namespace {

using testing::ReadFile;
using testing::Record;
using testing::RunTool;
using testing::ToolFolder;
using testing::WriteFile;

constexpr std::uint32_t k32K = 32 * 1024;
const std::filesystem::path kData = testing::kTestData;

const std::string kEnd = ":00000001FF";
const std::string kA = Record(0, 0x0000, {0x02, 0x00, 0x06});  // :03000000020006F5
const std::string kB = Record(0, 0x0100, {0xAA, 0xBB});

std::string Check(const std::string& text, std::uint32_t flash = k32K) {
  const ProgramCheck r = CheckProgramText(text, "fw.hex", flash);
  EXPECT_EQ(r.ok, r.error.empty());
  if (!r.ok) {
    EXPECT_TRUE(r.records.empty());
    EXPECT_TRUE(r.data.empty());
  }
  return r.ok ? "ok" : r.error;
}

TEST(ProgramCheckTest, EachFaultNamesTheFileTheLineAndWhatIsWrong) {
  ASSERT_EQ(kA, ":03000000020006F5");
  const std::string lines = kA + "\n\n" + kB + "\n";  // the fault goes on line 4
  const std::string at4 = "fw.hex, line 4: ";
  const std::string tail = ". Nothing was sent.";
  struct Case {
    std::string line;
    std::string fault;
  };
  const std::vector<Case> cases = {
      {":03000000020006F4", "checksum F4, expected F5"},
      {"03000000020006F5", "not a record (it does not start with ':')"},
      {" :03000000020006F5", "not a record (it does not start with ':')"},
      {":03000000020006F", "odd number of hex digits (15)"},
      {":030000000200G6F5", "'G' in column 14 is not a hex digit"},
      {":03000000020006F5 ", "' ' in column 18 is not a hex digit"},
      {":0300000002\xE9" "006F5", "byte E9h in column 12 is not a hex digit"},
      {":0300000002\x01" "006F5", "control character 01h in column 12"},
      {":03000000\t020006F5", "control character 09h in column 10"},
      {":03000000020006F5\x7F", "control character 7Fh in column 18"},
      {":", "too short for a record (count, address, type and checksum take 10 digits)"},
      {":00000001", "too short for a record (count, address, type and checksum take 10 digits)"},
      {":04000000020006F5", "count 04h, but 3 bytes of data follow"},
      {Record(6, 0, {}), "unknown record type 06"},
      {Record(1, 0, {0x00}), "end record with 1 byte of data, expected none"},
      {Record(2, 0, {0x10}),
       "extended segment address record with 1 byte of data, expected 2 bytes"},
      {Record(4, 0, {0, 0, 0}),
       "extended linear address record with 3 bytes of data, expected 2 bytes"},
      {Record(5, 0, {0, 0}), "start linear address record with 2 bytes of data, expected 4 bytes"},
      {Record(0, 0x7FFE, {1, 2, 3}), "data at 8000h lies beyond the 32 KB flash of the target"},
      {Record(0, 0x0001, {0x01}), "data at 0001h is written twice with different values"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Check(lines + c.line + "\n" + kEnd), at4 + c.fault + tail) << c.line;
  }
  // The same bytes written twice are no fault.
  EXPECT_EQ(Check(lines + kA + "\n"), "ok");

  EXPECT_EQ(Check(kA + "\n" + kEnd + "\n\n" + kB + "\n"),
            "fw.hex, line 4: record after the end record of line 2. Nothing was sent.");
  EXPECT_EQ(Check(Record(0, 0x1000, {1}), 4096),
            "fw.hex, line 1: data at 1000h lies beyond the 4 KB flash of the target. Nothing was "
            "sent.");
  // No data record: only the end record, only address records, an empty
  // data record, blank lines, or nothing at all.
  for (const std::string& text : {kEnd, Record(4, 0, {0, 0}) + "\n" + kEnd,
                                  Record(0, 0, {}) + "\n" + kEnd, std::string("\n \t\n"),
                                  std::string()}) {
    EXPECT_EQ(Check(text), "fw.hex: no data record. Nothing was sent.") << text;
  }
}

TEST(ProgramCheckTest, EveryLineEndStyleGivesTheSameRecordsAndLineNumbers) {
  const std::string c = ":0300030002007781";
  const std::string cLower = ":0a008200120062d007ef23ff80edab";  // lower-case digits
  const std::vector<std::string> body = {kA, "", c, "  ", cLower, kEnd};
  for (const std::string end : {"\n", "\r\n", "\r"}) {
    std::string text;
    for (const auto& l : body) text += l + end;
    const ProgramCheck r = CheckProgramText(text, "fw.hex", k32K);
    ASSERT_TRUE(r.ok) << r.error;
    ASSERT_EQ(r.records.size(), 4u);
    EXPECT_EQ(r.records[0].text, kA);
    EXPECT_EQ(r.records[1].line, 3);
    EXPECT_EQ(r.records[2].text, cLower);  // sent as it is in the file
    EXPECT_EQ(r.records[2].line, 5);
    EXPECT_EQ(r.records[3].text, kEnd);
    EXPECT_EQ(r.records[3].line, 6);
    EXPECT_EQ(r.data.size(), 3u + 3u + 10u);
    EXPECT_EQ(r.data.at(0x0082), 0x12);
    EXPECT_EQ(r.data.at(0x0089), 0xFF);
  }
  // Mixed line ends, no line end after the last line; a CR CR LF is a lone
  // CR and a CR LF, so an empty line lies between.
  const std::string mixed = kA + "\r\r\n" + c + "\n" + cLower + "\r" + kEnd;
  const ProgramCheck r = CheckProgramText(mixed, "fw.hex", k32K);
  ASSERT_TRUE(r.ok) << r.error;
  ASSERT_EQ(r.records.size(), 4u);
  EXPECT_EQ(r.records[1].line, 3);
  EXPECT_EQ(r.records[3].line, 5);
  EXPECT_EQ(r.records[3].text, kEnd);
  // The line numbers of faults count the same way.
  EXPECT_EQ(Check(kA + "\r\r\n" + c + "\rx\n"),
            "fw.hex, line 4: not a record (it does not start with ':'). Nothing was sent.");
}

TEST(ProgramCheckTest, ExtendedAddressRecordsPlaceTheData) {
  ToolFolder folder;
  ASSERT_TRUE(folder.Valid());
  const std::string path = folder.Path("FW.HEX");
  // Segment 0100h puts offset 0010h at 1010h; linear 0000h and segment 0000h
  // bring the window back to 0000h.
  WriteFile(path, Record(2, 0, {0x01, 0x00}) + "\r\n" + Record(0, 0x0010, {0x11, 0x22}) + "\r\n" +
                      Record(4, 0, {0x00, 0x00}) + "\r\n" + Record(0, 0x7FFF, {0x33}) + "\r\n" +
                      Record(5, 0, {0, 0, 0x12, 0x34}) + "\r\n" + Record(3, 0, {0, 0, 0, 0}) +
                      "\r\n" + kEnd + "\r\n");
  const ProgramCheck r = CheckProgramFile(path, k32K);
  ASSERT_TRUE(r.ok) << r.error;
  EXPECT_EQ(r.data, (std::map<std::uint32_t, std::uint8_t>{{0x1010, 0x11}, {0x1011, 0x22},
                                                           {0x7FFF, 0x33}}));
  EXPECT_EQ(r.records.size(), 7u);

  // Beyond the flash through either kind of base; the message names the
  // file as it is spelled, without its folder.
  WriteFile(path, kA + "\n" + Record(4, 0, {0x00, 0x01}) + "\n" + Record(0, 0, {1}) + "\n");
  EXPECT_EQ(CheckProgramFile(path, k32K).error,
            "FW.HEX, line 3: data at 10000h lies beyond the 32 KB flash of the target. Nothing "
            "was sent.");
  WriteFile(path, Record(2, 0, {0x08, 0x00}) + "\n" + Record(0, 0, {1}) + "\n");
  EXPECT_EQ(CheckProgramFile(path, k32K).error,
            "FW.HEX, line 2: data at 8000h lies beyond the 32 KB flash of the target. Nothing "
            "was sent.");
  WriteFile(path, Record(4, 0, {0xFF, 0xFF}) + "\n" + Record(0, 0xFFFF, {1}) + "\n");
  EXPECT_EQ(CheckProgramFile(path, 16 * 1024).error,
            "FW.HEX, line 2: data at FFFFFFFFh lies beyond the 16 KB flash of the target. "
            "Nothing was sent.");
}

TEST(ProgramCheckTest, BlinkPassesAndItsBytesAreObjcopysImage) {
  const std::string hex = (kData / "blink.hex").string();
  const ProgramCheck r = CheckProgramFile(hex, k32K);
  ASSERT_TRUE(r.ok) << r.error;
  EXPECT_EQ(r.records.size(), 16u);
  EXPECT_EQ(r.records.back().text, kEnd);

  ToolFolder folder;
  ASSERT_TRUE(folder.Valid());
  ASSERT_EQ(RunTool({"objcopy", "-I", "ihex", "-O", "binary", hex, folder.Path("blink.bin")}), 0)
      << "objcopy of binutils is needed for this test";
  const std::string image = ReadFile(folder.Path("blink.bin"));
  // The image runs from the lowest address written to the highest, gaps
  // filled with 00h.
  ASSERT_FALSE(image.empty());
  EXPECT_EQ(r.data.begin()->first, 0u);
  EXPECT_EQ(r.data.rbegin()->first, image.size() - 1);
  for (std::uint32_t a = 0; a < image.size(); ++a) {
    const auto it = r.data.find(a);
    const auto byte = static_cast<std::uint8_t>(image[a]);
    if (it != r.data.end()) {
      EXPECT_EQ(it->second, byte) << a;
    } else {
      EXPECT_EQ(byte, 0) << a;
    }
  }
}

TEST(ProgramCheckTest, WrittenImagesFillEachFlashSizeExactly) {
  std::mt19937 random(1210);
  for (std::uint32_t flash : {4u * 1024, 8u * 1024, 16u * 1024, 32u * 1024}) {
    std::vector<std::uint8_t> image(flash);
    for (auto& b : image) b = static_cast<std::uint8_t>(random());
    const ProgramCheck r = CheckProgramText(WriteIntelHex(image, 0), "fw.hex", flash);
    ASSERT_TRUE(r.ok) << r.error;
    ASSERT_EQ(r.data.size(), flash);
    EXPECT_TRUE(std::equal(image.begin(), image.end(), r.data.begin(),
                           [](std::uint8_t b, const auto& entry) { return b == entry.second; }));
    EXPECT_EQ(r.records.size(), flash / 16 + 1);

    image.push_back(0);
    char expected[120];
    std::snprintf(expected, sizeof expected,
                  "fw.hex, line %u: data at %04Xh lies beyond the %u KB flash of the target. "
                  "Nothing was sent.",
                  flash / 16 + 1, flash, flash / 1024);
    EXPECT_EQ(CheckProgramText(WriteIntelHex(image, 0), "fw.hex", flash).error, expected);
  }
}

TEST(ProgramCheckTest, LargeAndUnreadableFilesAreRefused) {
  ToolFolder folder;
  ASSERT_TRUE(folder.Valid());
  // One line of 7.9 MB without a line end: checked in one pass and refused.
  const std::string garbage = folder.Path("garbage.hex");
  WriteFile(garbage, std::string(7900 * 1024, 'x'));
  EXPECT_EQ(CheckProgramFile(garbage, k32K).error,
            "garbage.hex, line 1: not a record (it does not start with ':'). Nothing was sent.");
  WriteFile(garbage, ":" + std::string(7900 * 1024, 'F'));
  EXPECT_EQ(CheckProgramFile(garbage, k32K).error,
            "garbage.hex, line 1: count FFh, but 4044795 bytes of data follow. Nothing was sent.");
  WriteFile(garbage, ":" + std::string(7900 * 1024 - 1, '0') + "\x01");
  EXPECT_EQ(CheckProgramFile(garbage, k32K).error,
            "garbage.hex, line 1: control character 01h in column 8089601. Nothing was sent.");

  // Exactly 8 MB is read; a byte more is refused unread, from memory too.
  const std::string big = folder.Path("big.hex");
  WriteFile(big, std::string(kMaxProgramFileSize, '\n'));
  EXPECT_EQ(CheckProgramFile(big, k32K).error, "big.hex: no data record. Nothing was sent.");
  WriteFile(big, std::string(kMaxProgramFileSize + 1, '\n'));
  const std::string tooLarge =
      "big.hex: file too large (8388609 bytes; a program file holds at most 8 MB). Nothing was "
      "sent.";
  EXPECT_EQ(CheckProgramFile(big, k32K).error, tooLarge);
  EXPECT_EQ(CheckProgramText(std::string(kMaxProgramFileSize + 1, '\n'), "big.hex", k32K).error,
            tooLarge);

  EXPECT_EQ(CheckProgramFile(folder.Path("missing.hex"), k32K).error,
            "missing.hex: cannot be read (No such file or directory). Nothing was sent.");
  std::filesystem::create_directory(folder.Path("dir.hex"));
  EXPECT_EQ(CheckProgramFile(folder.Path("dir.hex"), k32K).error,
            "dir.hex: not a file. Nothing was sent.");
}

}  // namespace
}  // namespace varnel
