// Leaving a run: Exit while a download goes on, and a port that hangs up
// under an upload. The real main window with its real message boxes on the
// real serial component against the simulated target.
#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QDir>
#include <QMessageBox>
#include <QTemporaryDir>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <random>
#include <unistd.h>
#include <gtest/gtest.h>

#include "app/TF_Main.h"
#include "support/GuiApp.h"
#include "programming/ProgramFile.h"
#include "support/EventLoop.h"
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

}  // namespace
}  // namespace varnel
