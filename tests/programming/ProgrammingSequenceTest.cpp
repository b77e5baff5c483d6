#include "programming/ProgrammingSequence.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <unistd.h>

#include "core/Session.h"
#include "support/RecordingUi.h"
#include "support/ScriptedPort.h"

namespace varnel {
namespace {

using Writes = std::vector<std::string>;
const std::string kL1 = ":03000000020003F8";
const std::string kL2 = ":0300030080FEFE7E";
const std::string kEnd = ":00000001FF";

class ProgrammingSequenceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir.isValid());
    session.AttachUi(&ui);
    session.AttachPort(&port);
    session.NotePortOpened();
    session.TargetConnected = true;
    session.CoreClockHz = 11059200;
    // Stands in for the settings store: the record and HCR1/HCR0 as a run loads them.
    reload.onLoad = [this] {
      session.ProjectSettings = settings;
      session.Images.CfgImage.Write(MemoryImages::kHCR1Offset, hcr1);
      session.Images.CfgImage.Write(MemoryImages::kHCR0Offset, hcr0);
      session.ChooseProgramFile(settings.HexBinFile);
    };
    UseFile("prog.hex", kL1 + "\n" + kL2 + "\n" + kEnd + "\n");
  }
  void UseFile(const std::string& name, const std::string& text) {
    path = dir.filePath(QString::fromStdString(name)).toStdString();
    std::ofstream(path, std::ios::binary) << text;
    settings.HexBinFile = path;
  }
  // Starts a run and returns what was written after the flash timing writes.
  void Start() {
    sent = port.writes.size();
    run.Program();
    while (sent < port.writes.size() && port.writes[sent].rfind("RW", 0) == 0) ++sent;
  }
  Writes Sent() {  // writes since the last call, timing writes left out
    Writes out(port.writes.begin() + static_cast<long>(sent), port.writes.end());
    sent = port.writes.size();
    return out;
  }
  void Reply(const std::string& text) { port.Deliver(text); }
  std::vector<std::string> BoxTexts() const {
    std::vector<std::string> t;
    for (const auto& b : ui.boxes) t.push_back(b.text);
    return t;
  }

  QTemporaryDir dir;
  std::string path;
  Session session;
  testing::FixedSettings reload;
  testing::RecordingUi ui;
  testing::ScriptedPort port;
  ProjectSettingsRecord settings;
  int hcr1 = 0x50, hcr0 = 0xFF;
  ProgrammingSequence run{session, reload};
  std::size_t sent = 0;
};

TEST_F(ProgrammingSequenceTest, AllFourStepsWithTheFilesOwnEndRecord) {
  session.RequestStop();  // left over from an earlier sequence: forgotten
  Start();
  EXPECT_EQ(port.writes.front(), "RWEFA5");
  EXPECT_EQ(Sent(), Writes{"M0000"});
  EXPECT_TRUE(session.ProgrammingActive);
  Reply("ok\r\n>");
  EXPECT_EQ(Sent(), Writes{"M8000"});
  Reply("ok\r\n>");
  EXPECT_EQ(Sent(), Writes{"L" + kL1});
  EXPECT_EQ(session.LastCommand.str(), "L");
  EXPECT_TRUE(ui.progressOpen);
  EXPECT_EQ(ui.progressCaption, "Programming target");
  EXPECT_EQ(ui.progressLead, "Programming:");
  EXPECT_EQ(ui.progressName, "CODE");
  EXPECT_EQ(ui.progressBytes, "0 lines");
  EXPECT_EQ(ui.barMax, 3);
  Reply(".");
  EXPECT_EQ(Sent(), Writes{kL2});
  EXPECT_EQ(ui.progressBytes, "2 lines");
  Reply(".");
  EXPECT_EQ(Sent(), Writes{kEnd});
  EXPECT_EQ(ui.progressBytes, "3 lines");
  Reply("T\r\n>");
  EXPECT_TRUE(ui.progressOpen);  // the same window, through the register writes
  EXPECT_EQ(ui.progressBytes, "HCR1/HCR0");
  EXPECT_EQ(ui.barPos, 2);
  EXPECT_EQ(Sent(), Writes{"CW807E50"});
  Reply("ok>");
  EXPECT_EQ(Sent(), Writes{"CW807FFF"});
  const int sleptBefore = ui.sleptMs;
  Reply("ok>");
  EXPECT_TRUE(Sent().empty());
  EXPECT_EQ(ui.sleptMs - sleptBefore, 2000);  // the completion notice
  EXPECT_TRUE(ui.noticeLook);
  EXPECT_EQ(ui.progressLead, "Programming target finished successfully!");
  EXPECT_EQ(ui.progressButton, "&Ok");
  EXPECT_FALSE(ui.progressOpen);
  EXPECT_TRUE(session.LastCommand.empty());
  EXPECT_FALSE(session.ProgrammingActive);
  EXPECT_TRUE(session.ShowRxProgress);
  EXPECT_FALSE(run.LineFileOpen());
  EXPECT_TRUE(ui.boxes.empty());
}

TEST_F(ProgrammingSequenceTest, WithoutEndRecordTheRunSendsItAndShowsNoNotice) {
  UseFile("noend.hex", "\r\n" + kL1 + "\r\n\r\n" + kL2);  // blank lines and CR LF
  settings.MassErase = false;
  Start();
  EXPECT_EQ(Sent(), Writes{"M8000"});
  Reply("ok>");
  EXPECT_EQ(Sent(), Writes{"L" + kL1});
  EXPECT_EQ(ui.barMax, 2);
  Reply(".");
  EXPECT_EQ(Sent(), Writes{kL2});
  Reply(".");
  EXPECT_EQ(Sent(), Writes{kEnd});
  EXPECT_EQ(ui.barPos, 1);  // not advanced for the end record the run adds
  EXPECT_FALSE(session.ProgrammingActive);
  Reply(".");  // a stray "." after it changes nothing
  EXPECT_TRUE(Sent().empty());
  Reply("T>");
  Reply("ok>");
  Reply("ok>");
  EXPECT_EQ(ui.progressCreated, 1);  // no completion notice
  EXPECT_TRUE(session.LastCommand.empty());
}

TEST_F(ProgrammingSequenceTest, EpmaRuleAndRunsWithoutSomeSteps) {
  hcr0 = 0x7F;
  settings.ErasePS1 = false;
  Start();
  EXPECT_TRUE(port.writes.empty());
  ASSERT_EQ(ui.boxes.size(), 1u);
  EXPECT_EQ(ui.boxes[0].kind, MessageKind::Information);
  EXPECT_EQ(ui.boxes[0].text,
            "Bit EPMA disable programming flash! Enable Erasing PS1. Programming canceled!");

  // No erase step: straight on to the download, then the configuration write.
  settings.MassErase = false;
  hcr0 = 0xFF;
  Start();
  EXPECT_EQ(Sent(), Writes{"L" + kL1});

  settings.ProgFlash = false;
  Start();
  EXPECT_EQ(Sent(), Writes{"CW807E50"});
  Reply("ok>");
  Reply("ok>");
  EXPECT_EQ(ui.progressCreated, 2);  // the notice
  EXPECT_FALSE(run.LineFileOpen());

  settings.ProgPS1 = false;
  Start();
  EXPECT_TRUE(Sent().empty());
  EXPECT_FALSE(session.ProgrammingActive);
  EXPECT_FALSE(run.LineFileOpen());

  session.TargetConnected = false;
  port.writes.clear();
  Start();
  EXPECT_TRUE(port.writes.empty());
}

// Refused erases and line replies run end to end against the loader; here
// the replies it never gives.
TEST_F(ProgrammingSequenceTest, UnrecognisedAndRefusedRepliesEndTheRunWithTheirBoxes) {
  Start();
  Reply("M0000?>");
  settings.ProgFlash = false;
  Start();
  Reply("ok>");
  Reply("ok>");
  Reply("x>");
  Start();
  Reply("ok>");
  Reply("ok>");
  Reply("nak>");
  EXPECT_EQ(BoxTexts(), (std::vector<std::string>{"Error connecting target or out of memory range!",
                                                 "Failed Erase target!",
                                                 "Error connecting target!"}));
  EXPECT_TRUE(session.LastCommand.empty());
  EXPECT_FALSE(session.ProgrammingActive);
  EXPECT_FALSE(run.LineFileOpen());
}

TEST_F(ProgrammingSequenceTest, OkOnTheNoticeLeavesNoStopRequestAndRepeatsResendTheRecord) {
  settings.ProgFlash = false;
  Start();
  Reply("ok>");
  Reply("ok>");
  Reply("ok>");
  ui.onSleep = [this](int ms) {
    if (ms == 2000) session.RequestStop();  // "&Ok" pressed
  };
  Reply("ok>");
  EXPECT_EQ(ui.progressCreated, 2);  // the run's window, then the notice
  EXPECT_FALSE(session.StopRequested);

  // A NUL in an unfinished line reply repeats the record in flight, never a bare "L".
  settings.ProgFlash = true;
  Start();
  Reply("ok>");
  Reply("ok>");
  Sent();
  Reply(std::string("\0", 1));
  Reply(".");
  Reply(std::string("\r\0", 2));
  EXPECT_EQ(Sent(), (Writes{"L" + kL1, kL2, kL2}));
}

TEST_F(ProgrammingSequenceTest, ARemovedOrUnreadableLineFileEndsTheRun) {
  std::string text;
  for (int i = 0; i < 300; ++i) text += kL1 + "\n";  // more than one read of the file
  for (int removed = 0; removed < 2; ++removed) {
    UseFile("long.hex", text);
    ui.boxes.clear();
    Start();
    Reply("ok>");
    Reply("ok>");
    Reply(".");
    if (removed) {
      std::filesystem::remove(path);
    } else {
      // Turn the open descriptor into one that can no longer be read as the file.
      for (const auto& fd : std::filesystem::directory_iterator("/proc/self/fd")) {
        std::error_code ec;
        if (std::filesystem::read_symlink(fd.path(), ec) == path) {
          const int other = ::open(dir.path().toLocal8Bit().constData(), O_RDONLY);
          ::dup2(other, std::stoi(fd.path().filename().string()));
          ::close(other);
        }
      }
    }
    Sent();
    for (int i = 0; i < 300 && !session.LastCommand.empty(); ++i) Reply(".");
    EXPECT_EQ(BoxTexts(), std::vector<std::string>{"Can't open file " + path + " !"});
    EXPECT_FALSE(session.ProgrammingActive);
    EXPECT_FALSE(ui.progressOpen);
    EXPECT_LT(Sent().size(), 300u);
  }
}

TEST_F(ProgrammingSequenceTest, TimingRepliesNeverReachTheEraseHandlerAndEmptyFilesAreRefused) {
  int sleeps = 0;
  ui.onSleep = [&](int) {
    if (++sleeps <= 5) port.incoming += "ok\r\n>";  // the last after all four waits
  };
  Start();
  EXPECT_TRUE(port.incoming.empty());
  Reply("ok>");
  Reply("ok>");
  EXPECT_EQ(Sent(), (Writes{"M0000", "M8000", "L" + kL1}));
  EXPECT_TRUE(ui.boxes.empty());

  // A file without a single data record is refused before anything is sent.
  UseFile("empty.hex", "\n\n");
  const std::size_t before = port.writes.size();
  run.Program();
  EXPECT_EQ(port.writes.size(), before);
  ASSERT_EQ(ui.boxes.size(), 1u);
  EXPECT_EQ(ui.boxes[0].text, "empty.hex: no data record. Nothing was sent.");
  EXPECT_FALSE(session.ProgrammingActive);
}

}  // namespace
}  // namespace varnel
