// The progress window's speed line and silent-line note on a clock the test
// moves, its layout at the default font, the run times of the status bar,
// and the program's icon on every window.
#include <QMdiSubWindow>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include "app/RunClock.h"
#include "app/TAboutBox.h"
#include "app/TF_Main.h"
#include "connect/Connect.h"
#include "support/GuiApp.h"
#include "memory/ProgressHost.h"
#include "project/TF_Properties.h"
#include "support/AnsweringPrompts.h"
#include "support/RecordingUi.h"
#include "support/ScriptedPort.h"

namespace varnel {
namespace {

using namespace std::chrono_literals;
using Time = std::chrono::steady_clock::time_point;

// Every visible label shows its whole text, inside the window, over no
// other part of it.
void ExpectNothingCutOrCovered(const TF_Progress& w) {
  const QRect inside = w.rect();
  QList<QWidget*> parts;
  for (QWidget* child : w.findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
    if (!child->isVisibleTo(&w)) continue;
    if (auto* label = qobject_cast<QLabel*>(child)) {
      if (label->text().isEmpty()) continue;
      const QSize need = label->wordWrap()
                             ? QSize(label->width(), label->heightForWidth(label->width()))
                             : label->sizeHint();
      EXPECT_GE(label->width(), need.width()) << label->objectName().toStdString();
      EXPECT_GE(label->height(), need.height()) << label->objectName().toStdString();
    }
    EXPECT_TRUE(inside.contains(child->geometry())) << child->objectName().toStdString();
    parts << child;
  }
  for (int i = 0; i < parts.size(); ++i) {
    for (int j = i + 1; j < parts.size(); ++j) {
      EXPECT_FALSE(parts[i]->geometry().intersects(parts[j]->geometry()))
          << parts[i]->objectName().toStdString() << " over "
          << parts[j]->objectName().toStdString();
    }
  }
}

class ProgressWindowTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { testing::GuiApp(); }
  void SetUp() override {
    session.AttachUi(&ui);
    session.AttachPort(&port);
    host.Now = [this] { return now; };
  }
  void Tick(std::chrono::milliseconds step) {
    now += step;
    host.WatchTick();
  }
  TF_Progress& Window() { return *host.ProgressWindow(); }

  Session session;
  testing::RecordingUi ui;
  testing::ScriptedPort port;
  QWidget owner;
  ProgressHost host{session, &owner};
  Time now = Time{} + 1000s;
};

TEST_F(ProgressWindowTest, SpeedOnceASecondAndTheSilentLineNoteComesAndGoes) {
  ProgressStart how;
  how.name = "CODE";
  how.maximum = 0x7FFF;
  how.text = "0 bytes";
  session.LastRxTime = now - 60s;  // the last byte came long before the run
  host.StartProgress(how);
  session.Await("CR0000");
  const QSize designed = Window().size();
  // The designed size, or wider where "32767 bytes" needs it at this font.
  EXPECT_EQ(designed.height(), 117);
  EXPECT_GE(designed.width(), 209);
  ExpectNothingCutOrCovered(Window());
  EXPECT_EQ(Window().Lbl_Rate()->text(), "");

  // 256 bytes a second, shown once a full second has passed.
  for (int second = 1; second <= 3; ++second) {
    for (int quarter = 1; quarter <= 4; ++quarter) {
      const int position = second * 256 - 256 + quarter * 64;
      host.StepProgress(position, std::to_string(position) + " bytes");
      session.LastRxTime = now + 250ms;
      Tick(250ms);
      if (quarter < 4) {
        EXPECT_EQ(Window().Lbl_Rate()->text(), second == 1 ? "" : "256 bytes/s");
      }
    }
    EXPECT_EQ(Window().Lbl_Rate()->text(), "256 bytes/s");
  }
  EXPECT_TRUE(Window().Lbl_Note()->isHidden());

  // Quiet: nothing for just under 5 s, then the note under the bar.
  for (int i = 0; i < 19; ++i) Tick(250ms);
  EXPECT_TRUE(Window().Lbl_Note()->isHidden());
  Tick(250ms);
  EXPECT_EQ(Window().Lbl_Note()->text(),
            "No reply for 5 s: check the cable and the target, or Cancel");
  EXPECT_TRUE(Window().Lbl_Note()->isVisibleTo(&Window()));
  EXPECT_GT(Window().Lbl_Note()->y(), Window().ProgressBar1()->geometry().bottom());
  EXPECT_GT(Window().height(), designed.height());
  ExpectNothingCutOrCovered(Window());
  Tick(1000ms);
  EXPECT_EQ(Window().Lbl_Rate()->text(), "0.0 bytes/s");  // the speed says it too, in time

  // Bytes again: the note goes, the window is as it was.
  session.LastRxTime = now;
  Tick(250ms);
  EXPECT_TRUE(Window().Lbl_Note()->isHidden());
  EXPECT_EQ(Window().size(), designed);
  EXPECT_EQ(Window().Btn_Cancel()->size(), QSize(75, 25));

  // Nothing waits: a quiet line is no news.
  session.EndSequence();
  Tick(10s);
  EXPECT_TRUE(Window().Lbl_Note()->isHidden());
}

TEST_F(ProgressWindowTest, TheNoteCountsFromTheRunsStartAndLinesHaveTheirOwnSpeed) {
  ProgressStart how;
  how.name = "CODE";
  how.maximum = 120;
  how.text = "0 lines";
  how.lead = "Programming:";
  how.caption = "Programming target";
  session.LastRxTime = now - 1h;
  session.Await("L");
  host.StartProgress(how);
  Tick(4s);  // the window is 4 s old: not 5 s of silence yet
  EXPECT_TRUE(Window().Lbl_Note()->isHidden());
  host.StepProgress(6, "7 lines");
  Tick(1s);
  EXPECT_FALSE(Window().Lbl_Note()->isHidden());
  EXPECT_EQ(Window().Lbl_Rate()->text(), "1.2 lines/s");  // 6 lines in 5 s
  ExpectNothingCutOrCovered(Window());
}

TEST_F(ProgressWindowTest, LeadsNamesAndCountsFitAtTheDefaultFont) {
  ProgressStart upload;
  upload.name = "Ext.RAM";
  upload.maximum = 0x7FFF;
  upload.text = "0 bytes";
  host.StartProgress(upload);
  host.StepProgress(32752, "32752 bytes");
  ExpectNothingCutOrCovered(Window());
  EXPECT_EQ(Window().Lbl_Name()->pos(), QPoint(80, 8));  // the designed places where they fit
  EXPECT_EQ(Window().Label1()->pos(), QPoint(8, 8));

  ProgressStart programming;
  programming.name = "CODE";
  programming.maximum = 2047;
  programming.text = "0 lines";
  programming.lead = "Programming:";
  programming.caption = "Programming target";
  host.StartProgress(programming);
  const int width = Window().width();
  ExpectNothingCutOrCovered(Window());
  const QLabel* lead = Window().Label1();
  EXPECT_GE(Window().Lbl_Name()->x(),
            lead->x() + lead->fontMetrics().horizontalAdvance("Programming:"));
  host.StepProgress(2046, "2048 lines");
  EXPECT_EQ(Window().width(), width);  // room for the largest count from the start
  ExpectNothingCutOrCovered(Window());

  host.ShowNotice("Programming target",
                  "Programming target finished successfully! Verified 32768 bytes.", "&Ok");
  ExpectNothingCutOrCovered(Window());
  EXPECT_TRUE(Window().Lbl_Rate()->isHidden());
  EXPECT_EQ(Window().Label1()->y(), 32);
}

TEST(RunClockTest, TimesARunToItsEndAndSaysNothingForOneNotCompleted) {
  Time now = Time{} + 50s;
  RunClock clock([&] { return now; });
  EXPECT_EQ(clock.Complete(), "");
  clock.Start(RunClock::Run::Upload);
  now += 3250ms;
  EXPECT_EQ(clock.Complete(), "Uploaded in 3.2 s");
  EXPECT_EQ(clock.Complete(), "");  // once

  clock.Start(RunClock::Run::Programming, now - 125s);
  clock.MarkEnd();
  now += 2s;  // the completion notice
  clock.MarkEnd();
  EXPECT_EQ(clock.Complete(), "Programmed in 2:05 min");

  clock.Start(RunClock::Run::Upload);
  clock.Abandon();
  EXPECT_FALSE(clock.Current());
  EXPECT_EQ(clock.Complete(), "");
  EXPECT_EQ(RunClock::DurationText(59940ms), "59.9 s");
  EXPECT_EQ(RunClock::DurationText(85400us), "85 ms");
  EXPECT_EQ(RunClock::DurationText(999600us), "1.0 s");
  EXPECT_EQ(RunClock::DurationText(59960ms), "1:00 min");
}

TEST(ProgramIcon, EveryWindowCarriesIt) {
  testing::GuiApp();
  QTemporaryDir dir;
  testing::AnsweringPrompts prompts;
  TF_Main main(nullptr, dir.filePath("Varnel/Varnel.ini").toStdString(), &prompts);
  const qint64 icon = QApplication::windowIcon().cacheKey();
  ASSERT_FALSE(QApplication::windowIcon().isNull());
  ASSERT_FALSE(QApplication::windowIcon().pixmap(16, 16).isNull());
  EXPECT_EQ(main.windowIcon().cacheKey(), icon);

  main.OpenView(MemoryKind::Code);
  main.Trace1Click();
  TF_Properties properties;
  TAboutBox about;
  QWidget progressOwner;
  ProgressHost host(main.Link(), &progressOwner);
  host.ProgressCreate();
  TF_Connect connect(main.Link(), &progressOwner);
  std::vector<QWidget*> windows{&properties, &about, host.ProgressWindow(), &connect};
  for (QMdiSubWindow* child : main.MdiArea()->subWindowList()) windows.push_back(child);
  ASSERT_EQ(windows.size(), 6u);
  for (QWidget* w : windows) {
    EXPECT_EQ(w->windowIcon().cacheKey(), icon) << w->objectName().toStdString();
  }
}

}  // namespace
}  // namespace varnel
