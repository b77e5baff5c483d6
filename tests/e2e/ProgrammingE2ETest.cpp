// Programming runs end to end: connected by the handshake, through the real
// serial component on a pseudo-terminal to the simulated boot loader, with
// the real progress window.
#include <QTest>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

#include <QTemporaryDir>

#include "link/HexText.h"
#include "programming/ProgrammingSequence.h"
#include "programming/ProgramCheck.h"
#include "programming/Verify.h"
#include "memory/UploadSequence.h"
#include "TargetLink.h"
#include "support/TestData.h"

namespace varnel::testing {
namespace {

using sim::Memory;
using sim::TargetSimConfig;

const std::filesystem::path kData = testing::kTestData;

std::vector<std::string> FileLines(const std::filesystem::path& path) {
  std::ifstream in(path);
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (!line.empty()) lines.push_back(line);
  }
  return lines;
}

// The flash an Intel HEX text leaves behind in an erased part.
std::vector<std::uint8_t> FlashOf(const std::vector<std::string>& records, std::size_t size) {
  std::vector<std::uint8_t> flash(size, 0xFF);
  for (const std::string& r : records) {
    if (DecPrev(r.substr(7, 2)) != 0) continue;
    const int count = DecPrev(r.substr(1, 2));
    const int address = DecPrev(r.substr(3, 4));
    for (int i = 0; i < count; ++i) {
      flash.at(static_cast<std::size_t>(address + i)) =
          static_cast<std::uint8_t>(DecPrev(r.substr(9 + 2 * static_cast<std::size_t>(i), 2)));
    }
  }
  return flash;
}

class ProgrammingE2E : public TargetLink {
 protected:
  void SetUp() override {
    TargetLink::SetUp();
    ASSERT_TRUE(dir.isValid());
    // Waits block as the window's do, but stay short: replies that come
    // late are part of what is tested.
    ui.onSleep = [](int ms) {
      std::this_thread::sleep_for(std::chrono::milliseconds(std::min(ms, 20)));
    };
    settings.HexBinFile = (kData / "blink.hex").string();
    reload.onLoad = [this] {
      session.ProjectSettings = settings;
      session.Images.CfgImage.Write(MemoryImages::kHCR1Offset, static_cast<std::uint8_t>(hcr1));
      session.Images.CfgImage.Write(MemoryImages::kHCR0Offset, static_cast<std::uint8_t>(hcr0));
      session.ChooseProgramFile(settings.HexBinFile);
    };
    StartTarget();
    target->Fill(Memory::Code, 0x5A);  // old code, so the erase shows
    Connect();
    ASSERT_TRUE(session.TargetConnected);
    target->ClearTranscript();
  }

  bool Run() {
    run.Program();
    return RunUntilIdle([&] { return !session.LastCommand.empty() || session.ProgrammingActive; });
  }
  std::vector<std::string> Boxes() const {
    std::vector<std::string> texts;
    for (const auto& b : ui.boxes) texts.push_back(b.text);
    return texts;
  }
  std::vector<std::string> Sent() const {  // without the flash timing writes
    std::vector<std::string> out;
    for (const auto& c : target->Transcript()) {
      if (c.rfind("RW", 0) != 0) out.push_back(c);
    }
    return out;
  }
  std::vector<std::uint8_t> ConfigPage() const {
    std::vector<std::uint8_t> page(128, 0xFF);
    page[0x7E] = static_cast<std::uint8_t>(hcr1);
    page[0x7F] = static_cast<std::uint8_t>(hcr0);
    return page;
  }

  QTemporaryDir dir;
  ProgrammingSequence run{session, reload};
  UploadSequence uploads{session, reload};
  int hcr1 = 0x5A, hcr0 = 0xFE;
};

// The flash read back after the run and compared with the file.
class VerifyE2E : public ProgrammingE2E {
 protected:
  void SetUp() override {
    ProgrammingE2E::SetUp();
    settings.Verify = true;
    run.SetReader(&uploads);
    ui.onSleep = [this](int ms) {
      if (ms == 2000) notice = ui.host.ProgressWindow()->Label1()->text().toStdString();
    };
  }
  std::string notice;
};

TEST_F(VerifyE2E, ANormalRunIsVerifiedWithTheUploadCommands) {
  ASSERT_TRUE(Run());
  EXPECT_TRUE(Boxes().empty());
  const auto written = CheckProgramFile(settings.HexBinFile, 32768).data;
  EXPECT_EQ(notice, "Programming target finished successfully! Verified " +
                        std::to_string(written.size()) + " bytes.");
  // After the configuration writes, CODE blocks were read: nothing else.
  const auto sent = Sent();
  const auto last = std::find(sent.begin(), sent.end(), "CW807FFE");
  ASSERT_NE(last, sent.end());
  ASSERT_NE(last + 1, sent.end());
  for (auto it = last + 1; it != sent.end(); ++it) EXPECT_EQ(it->substr(0, 2), "CR") << *it;
}

TEST_F(VerifyE2E, AWeakCellIsReportedAndNeverCalledSuccess) {
  const auto written = CheckProgramFile(settings.HexBinFile, 32768).data;
  // A file that did not read would leave nothing to pick a cell from.
  ASSERT_GE(written.size(), 4u);
  const auto [address, value] = *std::next(written.begin(), 3);
  target->Modify([address = address](sim::TargetSimConfig& c) {
    c.weakCellAddress = static_cast<int>(address);
    c.weakCellMask = 0x01;
  });
  ASSERT_TRUE(Run());
  EXPECT_EQ(notice, "");
  ASSERT_EQ(Boxes().size(), 1u);
  const std::string expected = HD16Prev(address) + "h: file " + HDPrev(value) + "h, target " +
                               HDPrev(value ^ 0x01) + "h";
  EXPECT_EQ(Boxes()[0].rfind("Verify failed: 1 of " + std::to_string(written.size()) +
                                 " bytes differ from the file.", 0),
            0u)
      << Boxes()[0];
  EXPECT_NE(Boxes()[0].find(expected), std::string::npos) << Boxes()[0];
  EXPECT_EQ(session.Images.CodeImage.Read(address), value ^ 0x01);  // the view shows what was read
}

TEST_F(VerifyE2E, OverANoisyLineOnlyWhatEveryReadShowsIsADifference) {
  const auto written = CheckProgramFile(settings.HexBinFile, 32768).data;
  const auto [address, value] = *std::next(written.begin(), 5);
  // Read replies damaged in every way, digits turned into other digits too,
  // from the read-back on: one read would find differences the flash does
  // not have.
  target->Modify([address = address](sim::TargetSimConfig& c) {
    c.weakCellAddress = static_cast<int>(address);
    c.damageRate = 0.2;
    c.damageWays = sim::kDamageAll | sim::kDamageDigit;
    c.damageSeed = 1;
  });
  ASSERT_TRUE(Run());
  ASSERT_EQ(Boxes().size(), 1u);
  EXPECT_EQ(Boxes()[0], "Verify failed: 1 of " + std::to_string(written.size()) +
                            " bytes differ from the file.\n" + HD16Prev(address) + "h: file " +
                            HDPrev(value) + "h, target " + HDPrev(value ^ 0x01) + "h");
  const auto sent = Sent();
  const auto reads = std::count_if(sent.begin(), sent.end(), [](const std::string& c) {
    return c.starts_with("CR");
  });
  const auto blocks = VerifyRanges(written);
  std::size_t blockCount = 0;
  for (const auto& [first, last] : blocks) blockCount += (last - first + 1) / 16;
  EXPECT_GE(static_cast<std::size_t>(reads), blockCount + 2);  // the weak cell's block again
  EXPECT_GT(session.RepliesReadAgain, 0u);

  // Programmed right, the same line finds nothing to report.
  target->Modify([](sim::TargetSimConfig& c) { c.weakCellAddress = sim::kNever; });
  ui.boxes.clear();
  ASSERT_TRUE(Run());
  EXPECT_TRUE(Boxes().empty()) << Boxes()[0];
  EXPECT_EQ(notice, "Programming target finished successfully! Verified " +
                        std::to_string(written.size()) + " bytes.");
}

TEST_F(ProgrammingE2E, BadFilesAreRefusedWithNothingOnTheLine) {
  struct Case {
    const char* name;
    std::string text;
    std::string box;
  };
  const std::string good = ":03000000020003F8";
  const Case cases[] = {
      {"sum.hex", good + "\n:0300030080FEFE80\n:00000001FF\n",
       "sum.hex, line 2: checksum 80, expected 7E. Nothing was sent."},
      {"garbage.hex", good + "\nhello\n:00000001FF\n", "garbage.hex, line 2:"},
      {"short.hex", good + "\n:0300030080FE\n", "short.hex, line 2:"},
      {"far.hex", ":01800000007F\n:00000001FF\n", "far.hex, line 1:"},
      {"tab.hex", ":0300000002\t0003F8\n:00000001FF\n", "tab.hex, line 1:"},
      {"empty.hex", "\n\n", "empty.hex: no data record. Nothing was sent."},
  };
  for (const Case& c : cases) {
    const std::string path = dir.filePath(c.name).toStdString();
    std::ofstream(path, std::ios::binary) << c.text;
    settings.HexBinFile = path;
    ui.boxes.clear();
    target->ClearTranscript();
    run.Program();
    EXPECT_TRUE(target->Transcript().empty()) << c.name;  // not even the timing writes
    ASSERT_EQ(ui.boxes.size(), 1u) << c.name;
    EXPECT_EQ(ui.boxes[0].text.rfind(c.box, 0), 0u) << c.name << ": " << ui.boxes[0].text;
    EXPECT_NE(ui.boxes[0].text.find("Nothing was sent."), std::string::npos) << ui.boxes[0].text;
    EXPECT_FALSE(session.ProgrammingActive);
  }
}

TEST_F(ProgrammingE2E, AllFourStepsProgramTheFlashAndTheConfigurationPage) {
  const auto records = FileLines(kData / "blink.hex");
  std::string notice;
  ui.onSleep = [&](int ms) {
    if (ms != 2000) return;
    // The completion notice is up: read it, and press its button.
    TF_Progress* w = ui.host.ProgressWindow();
    ASSERT_NE(w, nullptr);
    notice = w->windowTitle().toStdString() + "|" + w->Label1()->text().toStdString() + "|" +
             w->Btn_Cancel()->text().toStdString();
    QTest::mouseClick(w->Btn_Cancel(), Qt::LeftButton);
  };
  ASSERT_TRUE(Run());
  EXPECT_TRUE(Boxes().empty());
  const auto transcript = target->Transcript();
  ASSERT_GE(transcript.size(), 4u);
  EXPECT_EQ(std::vector<std::string>(transcript.begin(), transcript.begin() + 4),
            (std::vector<std::string>{"RWEFA5", "RWFB0A", "RWFCF7", "RWFD2A"}));
  std::vector<std::string> expected{"M0000", "M8000", "L" + records.front()};
  expected.insert(expected.end(), records.begin() + 1, records.end());
  expected.insert(expected.end(), {"CW807E5A", "CW807FFE"});
  EXPECT_EQ(Sent(), expected);
  EXPECT_EQ(target->Read(Memory::Code), FlashOf(records, target->Read(Memory::Code).size()));
  EXPECT_EQ(target->Read(Memory::Config), ConfigPage());
  EXPECT_EQ(notice, "Programming target|Programming target finished successfully!|&Ok");
  EXPECT_FALSE(ui.ProgressIsOpen());
  EXPECT_FALSE(session.StopRequested);  // "&Ok" left no stop behind
  EXPECT_FALSE(run.LineFileOpen());
}

TEST_F(ProgrammingE2E, AFileWithoutEndRecordAndARepeatedLineStillProgramEverything) {
  auto records = FileLines(kData / "blink.hex");
  records.pop_back();
  const std::string path = dir.filePath("noend.hex").toStdString();
  {
    std::ofstream out(path);
    for (const auto& r : records) out << r << "\r\n";
  }
  settings.HexBinFile = path;
  // The reply to the third line comes as "." and a NUL and nothing more.
  const int thirdLine = static_cast<int>(target->CommandCount()) + 4 + 2 + 3;
  target->Modify([&](TargetSimConfig& c) { c.nulAtCommand = thirdLine; });
  ASSERT_TRUE(Run());
  EXPECT_TRUE(Boxes().empty());
  const auto sent = Sent();
  EXPECT_EQ(std::count(sent.begin(), sent.end(), records[2]), 2);  // the lost line again
  EXPECT_EQ(std::count(sent.begin(), sent.end(), "L"), 0);
  ASSERT_GE(sent.size(), 3u);
  EXPECT_EQ(sent[sent.size() - 3], ":00000001FF");
  EXPECT_EQ(target->Read(Memory::Code), FlashOf(records, target->Read(Memory::Code).size()));
  EXPECT_EQ(target->Read(Memory::Config), ConfigPage());
  EXPECT_FALSE(ui.noticeLook);
}

TEST_F(ProgrammingE2E, EpmaRefusedByTheToolAndByTheLoader) {
  hcr0 = 0x7F;
  settings.ErasePS1 = false;
  const std::size_t before = target->CommandCount();
  ASSERT_TRUE(Run());
  EXPECT_EQ(Boxes(), std::vector<std::string>{
      "Bit EPMA disable programming flash! Enable Erasing PS1. Programming canceled!"});
  EXPECT_EQ(target->CommandCount(), before);

  // The settings allow it, but the part's own HCR0 forbids programming.
  ui.boxes.clear();
  hcr0 = 0xFF;
  const std::uint8_t locked[] = {0x7F};
  target->Load(Memory::Config, 0x7F, locked);
  ASSERT_TRUE(Run());
  EXPECT_EQ(Boxes(), std::vector<std::string>{"Programming mode may be not allowed by EPMA!"});
  EXPECT_EQ(Sent().back(), "L" + FileLines(kData / "blink.hex").front());
  EXPECT_FALSE(ui.ProgressIsOpen());
}

TEST_F(ProgrammingE2E, RefusedEraseAndBadLineReplies) {
  target->Modify([](TargetSimConfig& c) { c.refuseErase = true; });
  ASSERT_TRUE(Run());
  EXPECT_EQ(Sent(), std::vector<std::string>{"M0000"});
  EXPECT_EQ(target->Read(Memory::Code)[0], 0x5A);  // nothing erased

  const std::pair<sim::LineError, std::string> cases[] = {
      {sim::LineError::WriteError, "Line write error, programming terminated!"},
      {sim::LineError::ChecksumError, "Line checksum error, programming terminated!"},
      {sim::LineError::Empty, "Programming mode may be not allowed by EPMA!"}};
  for (const auto& [error, text] : cases) {
    target->Modify([&](TargetSimConfig& c) {
      c.refuseErase = false;
      c.lineErrorAt = 2;
      c.lineError = error;
    });
    target->ClearTranscript();
    ASSERT_TRUE(Run());
    const auto sent = Sent();
    ASSERT_EQ(sent.size(), 4u) << text;  // M0000, M8000, two lines, no end record
    EXPECT_EQ(sent.back(), FileLines(kData / "blink.hex")[1]);
    EXPECT_FALSE(ui.ProgressIsOpen());
    EXPECT_FALSE(target->InLineMode());
  }
  EXPECT_EQ(Boxes(), (std::vector<std::string>{"Failed Erase target!", cases[0].second,
                                               cases[1].second, cases[2].second}));
}

TEST_F(ProgrammingE2E, CancelMidDownloadEndsItWithTheEndRecord) {
  // Cancel in the progress window once the sixth line is in flight.
  bool clicked = false;
  ui.onProcessEvents = [&] {
    TF_Progress* w = ui.host.ProgressWindow();
    if (!clicked && w && ui.ProgressPosition() >= 5) {
      clicked = true;
      QTest::mouseClick(w->Btn_Cancel(), Qt::LeftButton);
    }
  };
  ASSERT_TRUE(Run());
  EXPECT_EQ(Boxes(), std::vector<std::string>{"Programming sequence interrupted by user!"});
  const auto sent = Sent();
  ASSERT_EQ(sent.size(), 2u + 6 + 1);
  EXPECT_EQ(sent.back(), ":00000001FF");
  EXPECT_FALSE(target->InLineMode());
  EXPECT_FALSE(session.StopRequested);
  EXPECT_FALSE(run.LineFileOpen());
  EXPECT_FALSE(ui.ProgressIsOpen());
  EXPECT_TRUE(ui.toolBarsEnabled);
}

}  // namespace
}  // namespace varnel::testing
