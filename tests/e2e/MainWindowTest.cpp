// The whole tool from its main window against the simulated target: the
// user's clicks, the real serial port, the real windows.
#include <QAction>
#include <QDir>
#include <QPlainTextEdit>
#include <QTemporaryDir>
#include <QToolBar>
#include <fstream>
#include <memory>
#include <unistd.h>
#include <gtest/gtest.h>

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
  main.Uploads().SpeedCodeClick();
  EXPECT_TRUE(s.LastCommand.empty());
  EXPECT_FALSE(main.Progress().ProgressOpen());
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_NE(boxes[0].find("(Error: "), std::string::npos) << boxes[0];

  main.Programming().SpeedProgClick();
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
