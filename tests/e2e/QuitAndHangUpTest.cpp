// Leaving a run: Exit while a download goes on, a port that hangs up under
// an upload, a target that stops answering a programming run, a program file
// that may have been cut short. The real main window with its real message
// boxes on the real serial component against the simulated target.
#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QDir>
#include <QMessageBox>
#include <QTemporaryDir>
#include <QToolBar>
#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <random>
#include <sstream>
#include <unistd.h>
#include <gtest/gtest.h>

#include "app/TF_Main.h"
#include "support/AnsweringPrompts.h"
#include "support/GuiApp.h"
#include "programming/ProgramFile.h"
#include "support/EventLoop.h"
#include "support/Files.h"
#include "support/TestData.h"
#include "target-sim/TargetSim.h"

namespace varnel {
namespace {

struct Box {
  QString title, text;
};

// Answers every modal box the window opens with button, noting what it
// said; a picture of each goes to $VARNEL_SCREENSHOTS when that is set.
class BoxAnswerer {
 public:
  explicit BoxAnswerer(QMessageBox::StandardButton button) : button_(button) {
    timer_.setInterval(20);
    QObject::connect(&timer_, &QTimer::timeout, [this] { Look(); });
    timer_.start();
  }
  std::vector<Box> boxes;
  QMessageBox::StandardButton button_;

 private:
  void Look() {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (!box || box == answered_) return;
    answered_ = box;
    boxes.push_back({box->windowTitle(), box->text()});
    if (const char* folder = std::getenv("VARNEL_SCREENSHOTS")) {
      static int shots = 0;
      box->grab().save(QString::fromLocal8Bit(folder) + QStringLiteral("/box%1.png").arg(++shots));
    }
    QAbstractButton* b = box->button(button_);
    if (!b) b = box->buttons().front();
    b->click();
  }
  QTimer timer_;
  QMessageBox* answered_ = nullptr;
};

class QuitAndHangUp : public ::testing::Test {
 protected:
  void SetUp() override {
    testing::GuiApp();
    QDir().mkpath(dir.filePath("user"));
    user = dir.filePath("user/Varnel.ini").toStdString();
    link = dir.filePath("target").toStdString();
  }
  // The store names the link to target's line at baud and program.
  void Store(const sim::TargetSim& target, int baud, const std::string& program) {
    ::unlink(link.c_str());
    ASSERT_EQ(::symlink(target.SlavePath().c_str(), link.c_str()), 0);
    std::ofstream(user) << "[Properties]\nPort=" << link << "\nBaud=" << baud << "\n"
                        << "[MSC1210Setup]\nHCR0=FDh\nHCR1=7Fh\n"
                        << "[Code&Data]\nHexBin=" << program << "\nDefault=0\nCodeMin=0000\n"
                        << "CodeMax=0FFF\nExtMax=003F\n";
  }
  static bool Connect(TF_Main& main) {
    main.Action("SpeedConnect")->trigger();
    const bool connected =
        testing::PumpUntil([&] { return main.Action("SpeedCode")->isEnabled(); }, 8000);
    testing::PumpFor(200);  // the handshake's last reply is still on its way
    return connected;
  }

  QTemporaryDir dir;
  std::string user, link;
};

TEST_F(QuitAndHangUp, ExitDuringADownloadAsksStopsItAndTheNextConnectNeedsNoReset) {
  sim::TargetSimConfig config;
  config.paced = true;  // 9600 baud on the wire: the download takes many seconds
  sim::TargetSim target(config);
  std::mt19937 random(5);
  std::vector<std::uint8_t> image(4096);
  for (auto& b : image) b = static_cast<std::uint8_t>(random());
  const std::string hex = dir.filePath("image.hex").toStdString();
  std::ofstream(hex) << ConvertImage(image).text;
  Store(target, 9600, hex);

  {
    TF_Main main(nullptr, user);
    main.show();
    Session& s = main.Link();
    ASSERT_TRUE(Connect(main));
    main.Action("SpeedProg")->trigger();
    ASSERT_TRUE(testing::PumpUntil(
        [&] { return s.LastCommand.str() == "L" && main.Progress().ProgressPosition() >= 5; },
        20000));

    {
      BoxAnswerer no(QMessageBox::No);  // go on after all
      main.Action("Exit1")->trigger();
      ASSERT_EQ(no.boxes.size(), 1u);
      EXPECT_EQ(no.boxes[0].text.toStdString(), TF_Main::kStopQuestion);
      EXPECT_TRUE(main.isVisible());
      EXPECT_TRUE(s.ProgrammingActive);
    }
    BoxAnswerer yes(QMessageBox::Yes);
    main.close();  // the close box asks the same
    ASSERT_GE(yes.boxes.size(), 1u);
    EXPECT_EQ(yes.boxes[0].text.toStdString(), TF_Main::kStopQuestion);
    // The stop is a Cancel: its notice is the only other box.
    for (std::size_t i = 1; i < yes.boxes.size(); ++i) {
      EXPECT_EQ(yes.boxes[i].text, "Programming sequence interrupted by user!");
    }
    EXPECT_FALSE(main.isVisible());
    EXPECT_TRUE(s.LastCommand.empty());
  }
  EXPECT_FALSE(target.InLineMode());
  EXPECT_EQ(target.Transcript().back(), ":00000001FF");

  // A new start connects at once, without a reset of the board.
  TF_Main again(nullptr, user);
  again.show();
  EXPECT_TRUE(Connect(again));
  target.Stop();
}

TEST_F(QuitAndHangUp, APortHangingUpUnderAnUploadEndsTheRunWithOneBox) {
  auto target = std::make_unique<sim::TargetSim>();
  Store(*target, 38400, dir.filePath("none.hex").toStdString());
  TF_Main main(nullptr, user);
  main.show();
  Session& s = main.Link();
  ASSERT_TRUE(Connect(main));

  const int lineCloses = static_cast<int>(target->CommandCount()) + 20;
  target->Modify([lineCloses](sim::TargetSimConfig& c) { c.hangUpAfter = lineCloses; });
  BoxAnswerer ok(QMessageBox::Ok);
  main.Action("SpeedCode")->trigger();
  ASSERT_TRUE(testing::PumpUntil([&] { return !ok.boxes.empty(); }, 5000))
      << "pending " << s.LastCommand.str();
  testing::PumpFor(500);  // nothing more comes
  ASSERT_EQ(ok.boxes.size(), 1u);
  EXPECT_EQ(ok.boxes[0].title, "Error");
  EXPECT_EQ(ok.boxes[0].text, "Read error (Error: 5) ");
  EXPECT_TRUE(s.LastCommand.empty());
  EXPECT_FALSE(main.Progress().ProgressOpen());
  EXPECT_EQ(main.StatusText(0), "Closed");

  // The target is back under the same name: the next command opens the port.
  target.reset();
  sim::TargetSim back;
  Store(back, 38400, dir.filePath("none.hex").toStdString());
  EXPECT_TRUE(Connect(main));
  EXPECT_TRUE(s.PortOpen);
  EXPECT_EQ(ok.boxes.size(), 1u);
  back.Stop();
}

// A target that stops answering, at the erase or at the register writes
// after a download: the progress window shows the run from its first
// command, and the run ends with the no-reply box once the step's time is
// past (the run's clock is put an hour ahead instead of waiting for it).
TEST_F(QuitAndHangUp, ASilentTargetEndsTheProgrammingRunWithNoReply) {
  sim::TargetSim target;
  const std::string hex = (std::filesystem::path(testing::kTestData) / "blink.hex").string();
  Store(target, 38400, hex);
  std::vector<std::string> boxes;
  testing::AnsweringPrompts prompts(
      [&](MessageKind, const std::string& text) { boxes.push_back(text); });
  TF_Main main(nullptr, user, &prompts);
  main.show();
  Session& s = main.Link();
  ASSERT_TRUE(Connect(main));
  bool late = false;
  main.Programming().Now = [&late] {
    return std::chrono::steady_clock::now() + std::chrono::hours(late ? 1 : 0);
  };
  std::size_t records = 0;  // the download's lines, its end record included
  std::istringstream in(testing::ReadFile(hex));
  for (std::string line; std::getline(in, line);) records += line.find(':') != std::string::npos;

  struct Case {
    const char* name;
    std::size_t answered;  // commands of the run the target still answers
    const char* pending;   // what the run waits for when it gives up
    const char* step;      // what the progress window names then
  };
  for (const Case& c : {Case{"erase", 0, "M0000", "erasing"},
                        Case{"registers", 4 + 2 + records, "CW807E7F", "HCR1/HCR0"}}) {
    SCOPED_TRACE(c.name);
    boxes.clear();
    late = false;
    const int silentAfter = static_cast<int>(target.CommandCount() + c.answered);
    target.Modify([silentAfter](sim::TargetSimConfig& config) { config.silentAfter = silentAfter; });
    main.Action("SpeedProg")->trigger();
    // Shown from the first command on, whatever the target does.
    ASSERT_TRUE(main.Progress().ProgressOpen());
    ASSERT_TRUE(testing::PumpUntil([&] { return s.LastCommand.str() == c.pending; }, 15000))
        << "pending " << s.LastCommand.str();
    testing::PumpFor(300);
    EXPECT_TRUE(boxes.empty());
    TF_Progress* window = main.Progress().ProgressWindow();
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(window->windowTitle(), "Programming target");
    EXPECT_EQ(window->Lbl_Bytes()->text().toStdString(), c.step);

    late = true;
    ASSERT_TRUE(testing::PumpUntil([&] { return !boxes.empty(); }, 5000));
    testing::PumpFor(300);  // nothing more comes
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].rfind("No reply for ", 0), 0u) << boxes[0];
    EXPECT_TRUE(boxes[0].ends_with(" s: check the cable and the target.")) << boxes[0];
    EXPECT_FALSE(main.Progress().ProgressOpen());
    EXPECT_TRUE(s.LastCommand.empty());
    EXPECT_FALSE(s.ProgrammingActive);
    EXPECT_TRUE(main.findChild<QToolBar*>("ToolBar2")->isEnabled());
    EXPECT_TRUE(main.findChild<QToolBar*>("ToolBar3")->isEnabled());
    EXPECT_TRUE(main.Action("SpeedProg")->isEnabled());
    target.Modify([](sim::TargetSimConfig& config) { config.silentAfter = sim::kNever; });
  }
  target.Stop();
}

// A program file whose end record is missing is what an interrupted
// download or copy leaves: the window asks before anything is sent, and
// programs it as it is only when told to.
TEST_F(QuitAndHangUp, AFileWithoutEndRecordIsProgrammedOnlyAfterAYes) {
  sim::TargetSim target;
  target.Fill(sim::Memory::Code, 0x5A);
  const std::string hex = dir.filePath("cut.hex").toStdString();
  std::ofstream(hex) << ":0400000001020304F2\r\n:0300100080FEFE71\r\n";
  Store(target, 38400, hex);
  std::vector<std::string> questions, boxes;
  bool yes = false;
  testing::AnsweringPrompts prompts(
      [&](MessageKind, const std::string& text) { boxes.push_back(text); });
  prompts.onConfirm = [&](const std::string& caption, const std::string& text) {
    questions.push_back(caption + "|" + text);
    return yes;
  };
  TF_Main main(nullptr, user, &prompts);
  main.show();
  Session& s = main.Link();
  ASSERT_TRUE(Connect(main));
  testing::PumpFor(200);
  const std::string before = target.Received();

  main.Action("SpeedProg")->trigger();
  testing::PumpFor(300);
  ASSERT_EQ(questions.size(), 1u);
  EXPECT_EQ(questions[0],
            "Programming target|cut.hex has no end record (:00000001FF) after its last line. A "
            "file cut short by an interrupted download or copy looks like this.\n\nProgram it "
            "anyway, with the end record sent after its last line?");
  EXPECT_EQ(target.Received(), before);  // not even the flash timing
  EXPECT_TRUE(boxes.empty());
  EXPECT_FALSE(main.Progress().ProgressOpen());
  EXPECT_TRUE(s.LastCommand.empty());
  EXPECT_TRUE(main.Action("SpeedProg")->isEnabled());

  yes = true;
  main.Action("SpeedProg")->trigger();
  ASSERT_TRUE(testing::PumpUntil([&] { return !s.ProgrammingActive && s.LastCommand.empty(); },
                                 15000));
  EXPECT_EQ(questions.size(), 2u);
  EXPECT_TRUE(boxes.empty()) << boxes.front();
  const auto sent = target.Transcript();
  const auto end = std::find(sent.begin(), sent.end(), ":00000001FF");
  ASSERT_NE(end, sent.end());
  EXPECT_EQ(*(end - 1), ":0300100080FEFE71");
  const auto flash = target.Read(sim::Memory::Code);
  EXPECT_EQ(std::vector<std::uint8_t>(flash.begin(), flash.begin() + 4),
            (std::vector<std::uint8_t>{1, 2, 3, 4}));
  EXPECT_EQ(flash[0x12], 0xFE);
  EXPECT_EQ(flash[0x20], 0xFF);  // erased first
  target.Stop();
}

}  // namespace
}  // namespace varnel
