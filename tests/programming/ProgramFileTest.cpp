#include "programming/ProgramFile.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <random>
#include <sstream>

#include "core/Session.h"
#include "support/Files.h"
#include "support/RecordingUi.h"

namespace varnel {
namespace {

using testing::ReadFile;
using testing::WriteFile;

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
  }
  return lines;
}

class ProgramFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir.isValid());
    session.AttachUi(&ui);
    session.ProjectSettings.HexBinFile = "before.hex";
  }
  std::string Path(const std::string& name) const {
    return dir.filePath(QString::fromStdString(name)).toStdString();
  }
  bool Prepare(const std::string& name) {
    session.ChooseProgramFile(Path(name));
    std::string error;
    // A refusal reaches the user as the run reports it: one error box.
    if (DownloadFile(session, count, error)) return true;
    ui.RunEnded({OutcomeKind::BadFile, error});
    return false;
  }

  QTemporaryDir dir;
  Session session;
  testing::RecordingUi ui;
  int count = -1;
};

TEST(IntelHexRecord, ChecksumAndLayoutOfFullAndShortRecords) {
  std::vector<std::uint8_t> bytes(16);
  for (int i = 0; i < 16; ++i) bytes[i] = static_cast<std::uint8_t>(i);
  EXPECT_EQ(DataRecord(0x0000, bytes), ":10000000000102030405060708090A0B0C0D0E0F78");
  const std::uint8_t tail[] = {0xAA, 0xBB, 0xCC};
  EXPECT_EQ(DataRecord(0x0010, tail), ":03001000AABBCCBC");
  EXPECT_EQ(RecordChecksum(":00000001"), "FF");
  // Only the low 16 bits of the address are written.
  EXPECT_EQ(DataRecord(0x10020, tail), DataRecord(0x0020, tail));
}

TEST_F(ProgramFileTest, ConvertedFileMatchesObjcopyRecordForRecord) {
  const QString objcopy = QStandardPaths::findExecutable("objcopy");
  if (objcopy.isEmpty()) GTEST_SKIP() << "objcopy not installed";
  std::mt19937 random(1210);
  for (int size : {1, 15, 16, 17, 35, 4099, 32768, 65535, 65536}) {
    std::string image(static_cast<std::size_t>(size), '\0');
    for (char& c : image) c = static_cast<char>(random());
    WriteFile(Path("fw.bin"), image);
    ASSERT_EQ(QProcess::execute(objcopy, {"-I", "binary", "-O", "ihex",
                                          QString::fromStdString(Path("fw.bin")),
                                          QString::fromStdString(Path("ref.hex"))}),
              0);
    ASSERT_TRUE(Prepare("fw.bin")) << size;
    EXPECT_EQ(session.ProjectSettings.HexBinFile, Path("fwtmp.hex"));
    EXPECT_EQ(Lines(ReadFile(Path("fwtmp.hex"))), Lines(ReadFile(Path("ref.hex")))) << size;
    EXPECT_EQ(count, (size + 15) / 16);
  }
}

TEST_F(ProgramFileTest, EdgeSizesAndTheAddressWrap) {
  WriteFile(Path("empty.bin"), "");
  ASSERT_TRUE(Prepare("empty.bin"));
  EXPECT_EQ(ReadFile(Path("emptytmp.hex")), ":00000001FF\n");
  EXPECT_EQ(count, 0);

  WriteFile(Path("s16.bin"), std::string(16, '\x11'));
  ASSERT_TRUE(Prepare("s16.bin"));
  EXPECT_EQ(Lines(ReadFile(Path("s16tmp.hex"))),
            (std::vector<std::string>{":1000000011111111111111111111111111111111E0",
                                      ":00000001FF"}));
  EXPECT_EQ(count, 1);

  WriteFile(Path("s35.bin"), std::string(35, '\0'));
  ASSERT_TRUE(Prepare("s35.bin"));
  const auto lines = Lines(ReadFile(Path("s35tmp.hex")));
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_EQ(lines[1].substr(0, 9), ":10001000");
  EXPECT_EQ(lines[2], ":03002000000000DD");
  EXPECT_EQ(count, 3);

  // Beyond 64 KB the address field wraps to 0000h; no extended record.
  WriteFile(Path("big.bin"), std::string(65536 + 20, '\0'));
  ASSERT_TRUE(Prepare("big.bin"));
  const auto big = Lines(ReadFile(Path("bigtmp.hex")));
  ASSERT_EQ(big.size(), 4096u + 2 + 1);
  EXPECT_EQ(big[4096], ":10000000" + std::string(32, '0') + "F0");
  EXPECT_EQ(big[4097], ":0400100000000000EC");
  EXPECT_EQ(count, 4098);
}

TEST_F(ProgramFileTest, NamesExtensionsCaseAndOverwrite) {
  EXPECT_EQ(ConvertedFilePath("/w/a.b.bin"), "/w/atmp.hex");
  EXPECT_EQ(ConvertedFilePath("/w.d/fw.BIN"), "/w.d/fwtmp.hex");

  // An upper-case image extension converts; a stale converted file (longer
  // than the new one) is replaced whole, and nothing else is left behind.
  WriteFile(Path("FW.BIN"), std::string(3, '\x01'));
  WriteFile(Path("FWtmp.hex"), std::string(5000, 'z'));
  ASSERT_TRUE(Prepare("FW.BIN"));
  EXPECT_EQ(ReadFile(Path("FWtmp.hex")), ":03000000010101FA\n:00000001FF\n");
  EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files).size(), 2);

  // Intel HEX whatever the case is sent unchanged and counted by its records.
  std::string hex;
  for (int i = 0; i < 119; ++i) hex += ":0100000000FF\r\n";
  hex += "\r\n  \n:00000001FF";  // blank lines are no records; a last line needs no line end
  WriteFile(Path("prog.HEX"), hex);
  ASSERT_TRUE(Prepare("prog.HEX"));
  EXPECT_EQ(session.ProjectSettings.HexBinFile, Path("prog.HEX"));
  EXPECT_EQ(count, 120);
  EXPECT_EQ(ReadFile(Path("prog.HEX")), hex);
  EXPECT_TRUE(ui.boxes.empty());
}

TEST_F(ProgramFileTest, OtherExtensionsAreIntelHexOnlyWhenTheyStartWithARecord) {
  WriteFile(Path("prog.ihx"), "\n:03000000020003F8\n:00000001FF\n");
  ASSERT_TRUE(Prepare("prog.ihx"));
  EXPECT_EQ(session.ProjectSettings.HexBinFile, Path("prog.ihx"));
  EXPECT_EQ(count, 2);

  session.ProjectSettings.HexBinFile = "before.hex";
  count = 7;
  WriteFile(Path("notes.txt"), "hello\n:00000001FF\n");
  EXPECT_FALSE(Prepare("notes.txt"));
  ASSERT_EQ(ui.boxes.size(), 1u);
  EXPECT_EQ(ui.boxes[0].kind, MessageKind::Error);
  EXPECT_NE(ui.boxes[0].text.find(Path("notes.txt")), std::string::npos);
  EXPECT_EQ(session.ProjectSettings.HexBinFile, "before.hex");
  EXPECT_EQ(count, 7);
}

TEST_F(ProgramFileTest, FailuresShowTheirBoxAndChangeNothing) {
  EXPECT_FALSE(Prepare("missing.hex"));
  EXPECT_FALSE(Prepare("missing.bin"));
  // The converted file's place is taken by a folder: it cannot be rewritten.
  WriteFile(Path("fw.bin"), "abc");
  ASSERT_TRUE(QDir(dir.path()).mkdir("fwtmp.hex"));
  EXPECT_FALSE(Prepare("fw.bin"));
  ASSERT_EQ(ui.boxes.size(), 3u);
  EXPECT_EQ(ui.boxes[0].text, "Can't open file " + Path("missing.hex"));
  EXPECT_EQ(ui.boxes[1].text, "Can't open file " + Path("missing.bin"));
  EXPECT_EQ(ui.boxes[2].text, "Can't rewrite file " + Path("fwtmp.hex"));
  EXPECT_EQ(session.ProjectSettings.HexBinFile, "before.hex");
  EXPECT_EQ(count, -1);
}

}  // namespace
}  // namespace varnel
