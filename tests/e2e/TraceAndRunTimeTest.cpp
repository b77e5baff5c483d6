// The main window against the simulated target: the serial trace window
// shows the connect handshake in order, and the second status panel the
// time of the last completed upload and programming run.
#include <QAction>
#include <QPlainTextEdit>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <fstream>
#include <mutex>

#include "app/TF_Main.h"
#include "support/GuiApp.h"
#include "link/Trace.h"
#include "support/AnsweringPrompts.h"
#include "support/EventLoop.h"
#include "target-sim/TargetSim.h"

namespace varnel {
namespace {

struct Chunk {
  bool sent;
  std::string bytes;
};

// The window's lines turned back into the chunks they show.
std::vector<Chunk> ChunksOf(const QString& text) {
  std::vector<Chunk> chunks;
  for (const QString& line : text.split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
    const QStringList parts = line.split(QLatin1Char(' '));
    EXPECT_GE(parts.size(), 3) << line.toStdString();
    if (parts.size() < 3) continue;
    Chunk chunk{parts[1] == QLatin1String(">"), {}};
    const QString shown = line.section(QLatin1Char(' '), 2);
    EXPECT_TRUE(TraceBytes(shown.toStdString(), chunk.bytes)) << line.toStdString();
    chunks.push_back(chunk);
  }
  return chunks;
}

class TraceAndRunTime : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { testing::GuiApp(); }
  void SetUp() override {
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    sim::TargetSimConfig config;
    config.echo = false;  // what the line carries back is then the replies alone
    target = std::make_unique<sim::TargetSim>(config);
    target->SetLogger([this](std::string_view direction, std::string_view text) {
      std::lock_guard lock(mutex);
      if (direction == "in") commands.emplace_back(text);
      if (direction == "out") replies.emplace_back(text);
    });
    QDir().mkpath(dir.filePath("user"));
    user = dir.filePath("user/Varnel.ini").toStdString();
    hex = dir.filePath("one.hex").toStdString();
    std::ofstream(hex) << ":03000000020030CB\r\n:00000001FF\r\n";
    WriteStore(false);
    prompts.onBox = [this](MessageKind, const std::string& text) { boxes.push_back(text); };
  }
  void TearDown() override { target->Stop(); }

  // The per-user store: the simulated port, a small CODE range, and a run
  // that erases and downloads, with or without the register writes.
  void WriteStore(bool registers) {
    std::ofstream(user) << "[Properties]\nPort=" << target->SlavePath() << "\nBaud=38400\n"
                        << "[MSC1210Setup]\nHCR0=FDh\nHCR1=7Fh\n"
                        << "[Code&Data]\nHexBin=" << hex << "\nDefault=0\nCodeMin=0000\n"
                        << "CodeMax=00FF\nMassErase=1\nErasePS1=" << registers
                        << "\nProgFlash=1\nProgPS1=" << registers << "\n";
  }

  void Connect(TF_Main& main) {
    main.Action("SpeedConnect")->trigger();
    ASSERT_TRUE(testing::PumpUntil([&] { return main.Action("SpeedCode")->isEnabled(); }, 8000));
    // The handshake's last "RRE9" is answered after its window closed.
    ASSERT_TRUE(testing::PumpUntil([&] {
      std::lock_guard lock(mutex);
      return replies.size() >= 7;
    }));
    testing::PumpFor(100);
  }

  QTemporaryDir dir;
  std::string user, hex;
  std::unique_ptr<sim::TargetSim> target;
  std::mutex mutex;
  std::vector<std::string> commands, replies;
  testing::AnsweringPrompts prompts;
  std::vector<std::string> boxes;
};

TEST_F(TraceAndRunTime, TheTraceWindowShowsTheHandshakeInOrder) {
  TF_Main main(nullptr, user, &prompts);
  main.show();
  ASSERT_TRUE(main.Link().PortOpen) << main.StatusText(0).toStdString();
  main.Action("Trace1")->trigger();
  TF_Trace* trace = main.TraceWindow();
  ASSERT_TRUE(trace);
  EXPECT_TRUE(main.Action("Trace1")->isChecked());
  EXPECT_EQ(main.Comm1().Tap(), trace);
  EXPECT_EQ(main.Action("Trace1")->text(), "Serial &trace");

  Connect(main);
  trace->ShowNew();
  const std::vector<Chunk> chunks = ChunksOf(trace->Lines()->toPlainText());

  std::vector<std::string> sent;
  std::string received;
  std::vector<std::string> expectedReplies;
  {
    std::lock_guard lock(mutex);
    expectedReplies = replies;
    EXPECT_EQ(commands, (std::vector<std::string>{"\r", "RRE9", "E", "RRE9", "RRCA", "RRCB",
                                                  "RRE9"}));
  }
  // No reply shows before the command it answers went out.
  std::size_t answerable = 0;
  for (const Chunk& chunk : chunks) {
    if (chunk.sent) {
      sent.push_back(chunk.bytes);
      const std::size_t index = sent.size() - 1;
      if (index < expectedReplies.size()) answerable += expectedReplies[index].size();
    } else {
      received += chunk.bytes;
      EXPECT_LE(received.size(), answerable) << "a reply before its command: " << received;
    }
  }
  EXPECT_EQ(sent, (std::vector<std::string>{"\r", "RRE9", "E", "RRE9", "RRCA", "RRCB", "RRE9"}));
  std::string all;
  for (const auto& r : expectedReplies) all += r;
  EXPECT_EQ(received, all);
  EXPECT_NE(received.find("Boot Loader (simulated) Ver:SIM 1.0.0"), std::string::npos);

  // Closed: the tap is gone and the next run goes unrecorded.
  trace->close();
  EXPECT_EQ(main.Comm1().Tap(), nullptr);
  EXPECT_FALSE(main.Action("Trace1")->isChecked());
  EXPECT_TRUE(boxes.empty());
  main.close();
}

TEST_F(TraceAndRunTime, TheSecondPanelShowsHowLongTheLastCompletedRunTook) {
  TF_Main main(nullptr, user, &prompts);
  main.show();
  Connect(main);
  Session& s = main.Link();
  const QRegularExpression upload(QStringLiteral("^Uploaded in (\\d+ ms|\\d+\\.\\d s)$"));
  const QRegularExpression programmed(
      QStringLiteral("^Programmed in (\\d+ ms|\\d+\\.\\d s)$"));

  main.Action("SpeedCode")->trigger();
  ASSERT_TRUE(testing::PumpUntil([&] { return s.LastCommand.empty(); }, 10000));
  EXPECT_TRUE(upload.match(main.StatusText(1)).hasMatch()) << main.StatusText(1).toStdString();

  // A second Upload while one runs is refused and does not restart the clock.
  main.Action("SpeedSFR")->trigger();
  main.Action("SpeedSFR")->trigger();
  ASSERT_TRUE(testing::PumpUntil([&] { return s.LastCommand.empty(); }, 10000));
  EXPECT_TRUE(upload.match(main.StatusText(1)).hasMatch()) << main.StatusText(1).toStdString();

  // Without the register writes the run ends with its download, no notice.
  main.Action("SpeedProg")->trigger();
  ASSERT_TRUE(testing::PumpUntil(
      [&] { return !s.ProgrammingActive && s.LastCommand.empty(); }, 15000));
  testing::PumpFor(50);
  ASSERT_TRUE(boxes.empty()) << boxes.front();
  EXPECT_TRUE(programmed.match(main.StatusText(1)).hasMatch()) << main.StatusText(1).toStdString();

  // With them it ends with the completion notice, whose two seconds on
  // screen are not part of the run.
  WriteStore(true);
  main.Action("Upload1")->trigger();  // a finished upload first: the panel changes
  ASSERT_TRUE(
      testing::PumpUntil([&] { return s.LastCommand.empty() && !s.UploadAllActive; }, 15000));
  ASSERT_TRUE(upload.match(main.StatusText(1)).hasMatch()) << main.StatusText(1).toStdString();
  main.Action("SpeedProg")->trigger();
  ASSERT_TRUE(testing::PumpUntil(
      [&] { return !s.ProgrammingActive && s.LastCommand.empty(); }, 15000));
  ASSERT_TRUE(boxes.empty()) << boxes.front();
  EXPECT_TRUE(programmed.match(main.StatusText(1)).hasMatch()) << main.StatusText(1).toStdString();
  EXPECT_EQ(target->Read(sim::Memory::Config)[0x7F], 0xFD);  // the registers were written
  const QString took = main.StatusText(1).section(' ', 2);
  EXPECT_TRUE(took.endsWith(" ms") || took.section(' ', 0, 0).toDouble() < 2.0)
      << took.toStdString();
  main.close();
}

}  // namespace
}  // namespace varnel
