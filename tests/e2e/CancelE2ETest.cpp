// Cancel in every state of an upload and a programming run that shows a
// Cancel button (the blocks of an upload, the line download), answered by the
// target and not: afterwards the session is idle, late replies reach nobody,
// and after a reset of the target every command works as after a start.
#include <QTest>
#include <QTemporaryDir>
#include <chrono>
#include <filesystem>
#include <thread>

#include "TargetLink.h"
#include "support/TestData.h"
#include "memory/UploadSequence.h"
#include "programming/ProgramCheck.h"
#include "programming/ProgrammingSequence.h"

namespace varnel::testing {
namespace {

const std::filesystem::path kData = testing::kTestData;

struct CancelCase {
  const char* name;
  bool programming;
  const char* pending;  // the command in flight when Cancel is pressed
  int lineAtLeast;      // and, for a line download, how far it got
  bool answered;
};

class CancelE2E : public TargetLink, public ::testing::WithParamInterface<CancelCase> {
 protected:
  void SetUp() override {
    TargetLink::SetUp();
    ui.onSleep = [](int ms) {
      std::this_thread::sleep_for(std::chrono::milliseconds(std::min(ms, 20)));
    };
    settings.HexBinFile = (kData / "blink.hex").string();
    settings.CodeMin = 0;
    settings.CodeMax = 0x7FF;
    reload.onLoad = [this] {
      session.ProjectSettings = settings;
      session.Images.CfgImage.Write(MemoryImages::kHCR0Offset, 0xFE);
      session.ChooseProgramFile(settings.HexBinFile);
    };
    StartTarget();
    Connect();
    ASSERT_TRUE(session.TargetConnected);
  }

  bool Idle() const {
    return session.LastCommand.empty() && !session.StopRequested && !session.ProgrammingActive &&
           !session.UploadAllActive;
  }

  ProgrammingSequence run{session, reload};
  UploadSequence uploads{session, reload};
};

TEST_P(CancelE2E, LeavesTheSessionIdleAndEveryCommandWorking) {
  const CancelCase& c = GetParam();
  const auto records = CheckProgramFile(settings.HexBinFile, 32768).records;
  // Commands the target answers before it falls silent, counted from now.
  int answered = 0;
  if (std::string(c.pending) == "CR") answered = 3;
  if (std::string(c.pending) == "M") answered = 4;  // the timing writes
  if (std::string(c.pending) == "L") answered = 4 + 2 + c.lineAtLeast;
  if (std::string(c.pending) == "CW") answered = 4 + 2 + static_cast<int>(records.size());
  if (!c.answered) {
    const int silentAfter = static_cast<int>(target->CommandCount()) + answered;
    target->Modify([silentAfter](sim::TargetSimConfig& config) { config.silentAfter = silentAfter; });
  }

  bool clicked = false;
  ui.onProcessEvents = [&] {
    TF_Progress* w = ui.host.ProgressWindow();
    const std::string& pending = session.LastCommand.str();
    if (clicked || !w || !pending.starts_with(c.pending)) return;
    if (pending == "L" && ui.ProgressPosition() < c.lineAtLeast) return;
    if (pending.starts_with("CR") && ui.ProgressPosition() < 0x20) return;  // CR0030 in flight
    clicked = true;
    QTest::mouseClick(w->Btn_Cancel(), Qt::LeftButton);
  };
  if (c.programming) {
    run.Program();
  } else {
    uploads.Upload(MemoryKind::Code);
  }
  // The watchdog ends an unanswered stop about a second after the click.
  ASSERT_TRUE(RunUntilIdle([&] { return !Idle(); })) << c.name;
  ui.onProcessEvents = nullptr;
  ASSERT_TRUE(clicked) << c.name;
  EXPECT_TRUE(Idle()) << c.name;
  EXPECT_FALSE(run.LineFileOpen()) << c.name;
  EXPECT_TRUE(ui.toolBarsEnabled) << c.name;
  EXPECT_FALSE(ui.ProgressIsOpen()) << c.name;
  const std::size_t boxesAfterCancel = ui.boxes.size();
  for (const auto& box : ui.boxes) {
    EXPECT_EQ(box.text, "Programming sequence interrupted by user!") << c.name;
  }

  // The target is reset and speaks again: connect, upload and program as new.
  target->Modify([](sim::TargetSimConfig& config) { config.silentAfter = sim::kNever; });
  target->Reset();
  Connect();
  ASSERT_TRUE(session.TargetConnected) << c.name;
  target->Load(sim::Memory::Code, 0x100, std::vector<std::uint8_t>{1, 2, 3, 4});
  uploads.Upload(MemoryKind::Code);
  ASSERT_TRUE(RunUntilIdle([&] { return uploads.Busy(); })) << c.name;
  EXPECT_EQ(session.Images.CodeImage.Read(0x102), 3) << c.name;
  run.Program();
  ASSERT_TRUE(RunUntilIdle([&] { return !Idle(); })) << c.name;
  EXPECT_EQ(ui.boxes.size(), boxesAfterCancel) << c.name << ": " << ui.boxes.back().text;
  EXPECT_EQ(target->Read(sim::Memory::Code)[0], 0x02) << c.name;  // blink's first byte
}

INSTANTIATE_TEST_SUITE_P(
    EveryState, CancelE2E,
    ::testing::Values(CancelCase{"UploadAnswered", false, "CR", 0, true},
                      CancelCase{"UploadSilent", false, "CR", 0, false},
                      CancelCase{"FirstLineAnswered", true, "L", 0, true},
                      CancelCase{"FirstLineSilent", true, "L", 0, false},
                      CancelCase{"LineAnswered", true, "L", 3, true},
                      CancelCase{"LineSilent", true, "L", 3, false}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace varnel::testing
