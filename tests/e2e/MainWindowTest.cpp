// The whole tool from its main window against the simulated target: the
// user's clicks, the real serial port, the real windows.
#include <QAction>
#include <QDir>
#include <QPlainTextEdit>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QToolBar>
#include <fstream>
#include <memory>
#include <random>
#include <unistd.h>
#include <gtest/gtest.h>

#include "app/StatusPanel.h"
#include "app/TF_Main.h"
#include "support/GuiApp.h"
#include "support/AnsweringPrompts.h"
#include "memory/ListMem.h"
#include "support/EventLoop.h"
#include "support/IntelHexRecords.h"
#include "target-sim/TargetSim.h"

namespace varnel {
namespace {

using testing::Record;

TEST(MainWindowEndToEnd, ConnectUploadAllAndProgramByClicking) {
  testing::GuiApp();
  QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
  QTemporaryDir dir;
  sim::TargetSim target;  // MSC1210Y5 at 11.0592 MHz, echo on, banner first
  const std::vector<std::uint8_t> code = {0x02, 0x00, 0x30, 0x75, 0x81, 0x2F, 0x12, 0x00};
  target.Load(sim::Memory::Code, 0x100, code);

  // The program: two records and the end record.
  const std::string hex = dir.filePath("blink.hex").toStdString();
  std::ofstream(hex) << Record(0x00, 0x0000, {0x02, 0x00, 0x30}) << "\r\n"
                     << Record(0x00, 0x0030, {0x75, 0x81, 0x2F, 0x80, 0xFE}) << "\r\n"
                     << ":00000001FF\r\n";
  // The per-user store names the simulated port, a fast line and the file.
  QDir().mkpath(dir.filePath("user"));
  const std::string user = dir.filePath("user/Varnel.ini").toStdString();
  std::ofstream(user) << "[Properties]\nPort=" << target.SlavePath() << "\nBaud=38400\n"
                      << "[MSC1210Setup]\nHCR0=FDh\nHCR1=7Fh\n"
                      << "[Code&Data]\nHexBin=" << hex << "\nDefault=0\nCodeMin=0000\n"
                      << "CodeMax=01FF\nExtMax=003F\n";

  std::vector<QString> boxes;
  testing::AnsweringPrompts prompts(
      [&](MessageKind, const std::string& text) { boxes.push_back(QString::fromStdString(text)); });
  {
    TF_Main main(nullptr, user, &prompts);
    main.show();
    Session& s = main.Link();
    ASSERT_TRUE(s.PortOpen) << main.StatusText(0).toStdString();
    EXPECT_EQ(main.StatusText(0), QString::fromStdString(target.SlavePath()) + ",38400Bd,N,8,1");
    EXPECT_EQ(main.StatusText(2), QString::fromStdString("Prog.: " + hex));

    main.Action("SpeedConnect")->trigger();
    ASSERT_TRUE(testing::PumpUntil(
        [&] { return main.Action("SpeedCode")->isEnabled(); }, 8000));
    EXPECT_EQ(main.windowTitle(), "Varnel - Target: MSC1210Y5");
    EXPECT_EQ(s.CoreClockHz, 11059200);
    // The handshake's last reply is still on its way; a user is never this fast.
    testing::PumpFor(200);

    main.Action("CODE1")->trigger();  // the view is open while the upload runs
    EXPECT_TRUE(main.Action("CODE1")->isChecked());
    main.Action("SpeedAll")->trigger();
    EXPECT_FALSE(main.findChild<QToolBar*>("ToolBar3")->isEnabled());
    ASSERT_TRUE(testing::PumpUntil(
        [&] { return !s.UploadAllActive && s.LastCommand.empty(); }, 15000));
    EXPECT_TRUE(main.findChild<QToolBar*>("ToolBar3")->isEnabled());
    for (std::size_t i = 0; i < code.size(); ++i) {
      EXPECT_EQ(s.Images.CodeImage.Read(0x100 + static_cast<int>(i)), code[i]);
    }
    const auto targetSfr = target.Read(sim::Memory::Sfr);
    EXPECT_EQ(s.Images.SFRImage.Read(0xE9), targetSfr[0xE9]);
    auto* view = main.Views().View(MemoryKind::Code);
    ASSERT_TRUE(view);
    const QString text = view->findChild<QPlainTextEdit*>()->toPlainText();
    EXPECT_TRUE(text.contains("0100 - 02 00 30 75 81 2F 12 00")) << text.left(100).toStdString();

    main.Action("SpeedProg")->trigger();
    ASSERT_TRUE(testing::PumpUntil(
        [&] { return !s.ProgrammingActive && s.LastCommand.empty(); }, 15000))
        << "pending " << s.LastCommand.str() << ", last command the target saw: "
        << (target.Transcript().empty() ? "" : target.Transcript().back());
    EXPECT_TRUE(boxes.empty()) << boxes.front().toStdString();
    const auto flash = target.Read(sim::Memory::Code);
    EXPECT_EQ(flash[0x00], 0x02);
    EXPECT_EQ(flash[0x02], 0x30);
    EXPECT_EQ(flash[0x34], 0xFE);
    EXPECT_EQ(flash[0x100], 0xFF);  // erased before programming
    const auto config = target.Read(sim::Memory::Config);
    EXPECT_EQ(config[0x7E], 0x7F);
    EXPECT_EQ(config[0x7F], 0xFD);
    main.close();
  }
  target.Stop();
}

// Over a line that damages a share of the read replies, the handshake's
// too, an Upload All still gives images that hold exactly the target's
// bytes, and the status bar says how many replies were read again.
TEST(MainWindowEndToEnd, UploadAllOverANoisyLineHoldsTheTargetsBytes) {
  testing::GuiApp();
  QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
  QTemporaryDir dir;
  sim::TargetSimConfig config;
  config.variant = 3;  // 8 KB of flash
  config.damageRate = 0.03;
  config.damageSeed = 1;
  sim::TargetSim target(config);
  std::mt19937 random(18);
  for (sim::Memory memory : {sim::Memory::Code, sim::Memory::ExtRam, sim::Memory::Config}) {
    std::vector<std::uint8_t> bytes(target.Read(memory).size());
    for (auto& b : bytes) b = static_cast<std::uint8_t>(random());
    target.Load(memory, 0, bytes);
  }
  QDir().mkpath(dir.filePath("user"));
  const std::string user = dir.filePath("user/Varnel.ini").toStdString();
  std::ofstream(user) << "[Properties]\nPort=" << target.SlavePath() << "\nBaud=38400\n"
                      << "[Code&Data]\nDefault=0\nCodeMin=0000\nCodeMax=0000\nExtMin=0000\n"
                      << "ExtMax=07FF\nCode=1\nExtRAM=1\nSFR=1\n";

  std::vector<std::string> boxes;
  testing::AnsweringPrompts prompts(
      [&](MessageKind, const std::string& text) { boxes.push_back(text); });
  TF_Main main(nullptr, user, &prompts);
  main.show();
  Session& s = main.Link();
  main.Action("SpeedConnect")->trigger();
  ASSERT_TRUE(testing::PumpUntil([&] { return main.Action("SpeedCode")->isEnabled(); }, 8000))
      << (boxes.empty() ? "" : boxes.front());
  EXPECT_EQ(main.windowTitle(), "Varnel - Target: MSC1210Y3");
  testing::PumpFor(200);  // the handshake's last reply

  main.Action("SpeedAll")->trigger();
  ASSERT_TRUE(testing::PumpUntil([&] { return !s.UploadAllActive && s.LastCommand.empty(); },
                                 30000));
  EXPECT_TRUE(boxes.empty()) << boxes.front();
  const auto same = [&](sim::Memory memory, const MemoryImage& image, std::size_t from,
                        std::size_t to) {
    const auto cells = target.Read(memory);
    for (std::size_t a = from; a <= to; ++a) {
      if (image.Read(static_cast<std::int64_t>(a)) != cells[a]) return a;
    }
    return std::size_t{0xFFFFFF};
  };
  EXPECT_EQ(same(sim::Memory::Code, s.Images.CodeImage, 0, 0x1FFF), 0xFFFFFFu);
  EXPECT_EQ(same(sim::Memory::ExtRam, s.Images.ExtRAMImage, 0, 0x7FF), 0xFFFFFFu);
  EXPECT_EQ(same(sim::Memory::Sfr, s.Images.SFRImage, 0x80, 0xFF), 0xFFFFFFu);
  EXPECT_EQ(same(sim::Memory::Config, s.Images.CfgImage, 0, 0x7F), 0xFFFFFFu);
  ASSERT_GT(s.RepliesReadAgain, 0u);
  const QRegularExpression panel(QStringLiteral("^Uploaded in [0-9.]+ (ms|s), (\\d+) damaged "
                                                "repl(y|ies) read again$"));
  const auto match = panel.match(main.StatusText(1));
  ASSERT_TRUE(match.hasMatch()) << main.StatusText(1).toStdString();
  EXPECT_GT(match.captured(2).toInt(), 0);
  EXPECT_LE(match.captured(2).toULongLong(), s.RepliesReadAgain);  // the handshake's are not the run's
  EXPECT_FALSE(main.Panel(1)->IsCut());  // the panel grows for the longer text
  EXPECT_GT(main.Panel(1)->width(), 150);
  main.SetStatusPanel(Session::kStatusReceive, "Receiving ... 12 byte.");
  EXPECT_EQ(main.Panel(1)->minimumWidth(), 150);  // and is back for the count
  main.close();
}

// The target's line goes away (adapter unplugged, simulator ended): every
// command reopens the port first and, when that fails, says why once
// instead of writing into a dead line or waiting for a reply.
TEST(MainWindowEndToEnd, ADeadPortIsReopenedOrReportedOnce) {
  testing::GuiApp();
  QTemporaryDir dir;
  auto target = std::make_unique<sim::TargetSim>();
  const std::string link = dir.filePath("target").toStdString();
  ASSERT_EQ(::symlink(target->SlavePath().c_str(), link.c_str()), 0);
  QDir().mkpath(dir.filePath("user"));
  const std::string user = dir.filePath("user/Varnel.ini").toStdString();
  std::ofstream(user) << "[Properties]\nPort=" << link << "\nBaud=38400\n";

  std::vector<std::string> boxes;
  testing::AnsweringPrompts prompts([&](MessageKind, const std::string& text) {
    boxes.push_back(text);
  });
  TF_Main main(nullptr, user, &prompts);
  Session& s = main.Link();
  ASSERT_TRUE(s.PortOpen);
  s.TargetConnected = true;

  target->Stop();
  target.reset();
  main.SpeedCodeClick();
  EXPECT_TRUE(s.LastCommand.empty());
  EXPECT_FALSE(main.Progress().ProgressOpen());
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_NE(boxes[0].find("(Error: "), std::string::npos) << boxes[0];

  main.SpeedProgClick();
  EXPECT_EQ(boxes.size(), 2u);
  EXPECT_TRUE(s.LastCommand.empty());
  main.Connect1Click();
  EXPECT_EQ(boxes.size(), 3u);
  EXPECT_EQ(main.findChildren<QWidget*>("TF_Connect").size(), 0);

  // The target comes back under the same name: the next command reopens it.
  sim::TargetSim again;
  ::unlink(link.c_str());
  ASSERT_EQ(::symlink(again.SlavePath().c_str(), link.c_str()), 0);
  main.Connect1Click();
  EXPECT_EQ(boxes.size(), 3u);
  EXPECT_TRUE(s.PortOpen);
  again.Stop();
}

}  // namespace
}  // namespace varnel
