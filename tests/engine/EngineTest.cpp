// Several sessions in one process: each its own port, simulator, settings
// and engine, running at the same time, and nothing of one reaching the other.
#include "engine/Engine.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <algorithm>
#include <fstream>
#include <memory>
#include <random>

#include "connect/ConnectHandshake.h"
#include "link/CommInt.h"
#include "programming/ProgramFile.h"
#include "support/EventLoop.h"
#include "support/RecordingDisplay.h"
#include "support/RecordingUi.h"
#include "target-sim/TargetSim.h"

namespace varnel::testing {
namespace {

std::vector<std::uint8_t> RandomBytes(std::size_t size, unsigned seed) {
  std::mt19937 random(seed);
  std::vector<std::uint8_t> bytes(size);
  for (auto& b : bytes) b = static_cast<std::uint8_t>(random());
  return bytes;
}

// One board on the bench: a simulator, the port to it and an engine over
// a session of its own.
struct Station {
  explicit Station(const std::string& programFile) {
    target = std::make_unique<sim::TargetSim>(sim::TargetSimConfig{});
    comm.SetDeviceName(target->SlavePath());
    comm.SetBaudRate(br38400);
    comm.Open();
    session.AttachUi(&ui);
    session.AttachPort(&comm);
    session.NotePortOpened();
    settings.BaudText = "38400";
    settings.MassErase = settings.ErasePS1 = settings.ProgFlash = true;
    settings.ProgPS1 = false;
    settings.Verify = true;
    settings.HexBinFile = programFile;
    reload.onLoad = [this] {
      session.ProjectSettings = settings;
      session.ChooseProgramFile(settings.HexBinFile);
    };
    reload.LoadProperties();
    session.AddOutcomeListener([this](const Outcome& o) { outcomes.push_back(o); });
  }
  ~Station() {
    comm.Close();
    target->Stop();
  }

  // The handshake, ticked as soon as each reply is in.
  void Connect() {
    RecordingDisplay display;
    ConnectHandshake handshake(session, display, NumberFormat{".", ""});
    EXPECT_FALSE(handshake.Prepare());
    handshake.Start();
    while (!display.closed && !handshake.Result()) {
      ASSERT_GE(display.timer, 0) << "stalled after " << handshake.HandshakeCommand();
      const long prompts = handshake.AwaitingReply() && handshake.HandshakeCommand() == "E" ? 2 : 1;
      ASSERT_TRUE(PumpUntil([&] {
        return std::count(session.RxBuffer.begin(), session.RxBuffer.end(), '>') >= prompts;
      }));
      handshake.Tick();
    }
    handshake.Close();
    ASSERT_TRUE(handshake.Result() && handshake.Result()->Done());
    ASSERT_TRUE(PumpUntil([&] { return session.RxBuffer.ends_with('>'); }));  // the last RRE9
  }

  std::unique_ptr<sim::TargetSim> target;
  TComm comm;
  Session session;
  RecordingUi ui;
  FixedSettings reload;
  ProjectSettingsRecord settings;
  Engine engine{session, reload};
  std::vector<Outcome> outcomes;
};

class EngineTest : public ::testing::Test {
 protected:
  void SetUp() override { EnsureApplication(); }

  // An Intel HEX file of the bytes, loaded at 0000h.
  std::string HexFile(const std::string& name, const std::vector<std::uint8_t>& bytes) {
    const std::string path = dir.filePath(QString::fromStdString(name)).toStdString();
    std::ofstream(path, std::ios::binary) << ConvertImage(bytes).text;
    return path;
  }

  // Runs the loop until both stations have ended their runs.
  static bool BothEnd(Station& a, Station& b, std::size_t outcomesA, std::size_t outcomesB) {
    return PumpUntil(
        [&] {
          return a.outcomes.size() > outcomesA && b.outcomes.size() > outcomesB &&
                 !a.engine.Busy() && !b.engine.Busy();
        },
        60000);
  }

  QTemporaryDir dir;
};

TEST_F(EngineTest, TwoSessionsUploadAndProgramAtTheSameTime) {
  const auto codeA = RandomBytes(32768, 1), codeB = RandomBytes(32768, 2);
  const auto fileA = RandomBytes(3000, 3), fileB = RandomBytes(4096, 4);
  Station a(HexFile("a.hex", fileA)), b(HexFile("b.hex", fileB));
  a.target->Load(sim::Memory::Code, 0, codeA);
  b.target->Load(sim::Memory::Code, 0, codeB);
  a.Connect();
  b.Connect();
  a.target->ClearTranscript();
  b.target->ClearTranscript();

  // A reads its whole flash while B is programmed and verified, then the
  // other way round; the two lines are busy at the same time.
  std::size_t na = a.outcomes.size(), nb = b.outcomes.size();
  ASSERT_TRUE(a.engine.Upload(MemoryKind::Code));
  ASSERT_TRUE(b.engine.Program());
  EXPECT_TRUE(a.engine.Busy());
  EXPECT_TRUE(b.engine.Busy());
  ASSERT_TRUE(BothEnd(a, b, na, nb));
  EXPECT_TRUE(a.outcomes.back().Done()) << a.outcomes.back().text;
  EXPECT_TRUE(b.outcomes.back().Done()) << b.outcomes.back().text;
  EXPECT_EQ(b.outcomes.back().compared, fileB.size());
  EXPECT_EQ(a.session.Images.CodeImage.Cells(), codeA);
  const auto flashB = b.target->Read(sim::Memory::Code);
  EXPECT_TRUE(std::equal(fileB.begin(), fileB.end(), flashB.begin()));
  EXPECT_TRUE(std::all_of(flashB.begin() + 4096, flashB.end(), [](auto c) { return c == 0xFF; }));

  na = a.outcomes.size(), nb = b.outcomes.size();
  ASSERT_TRUE(a.engine.Program());
  ASSERT_TRUE(b.engine.Upload(MemoryKind::Code));
  ASSERT_TRUE(BothEnd(a, b, na, nb));
  EXPECT_TRUE(a.outcomes.back().Done()) << a.outcomes.back().text;
  EXPECT_TRUE(b.outcomes.back().Done()) << b.outcomes.back().text;
  EXPECT_EQ(b.session.Images.CodeImage.Cells(), b.target->Read(sim::Memory::Code));
  const auto flashA = a.target->Read(sim::Memory::Code);
  EXPECT_TRUE(std::equal(fileA.begin(), fileA.end(), flashA.begin()));
  EXPECT_TRUE(std::all_of(flashA.begin() + 3000, flashA.end(), [](auto c) { return c == 0xFF; }));

  // Neither saw a box, and each line carried only its own session's
  // reads: A's whole flash and its verify, B's verify and its whole flash.
  EXPECT_TRUE(a.ui.boxes.empty());
  EXPECT_TRUE(b.ui.boxes.empty());
  const auto reads = [](const sim::TargetSim& t) {
    const auto all = t.Transcript();
    return std::count_if(all.begin(), all.end(), [](const auto& c) { return c.starts_with("CR"); });
  };
  EXPECT_EQ(reads(*a.target), 2048 + (3000 + 15) / 16);
  EXPECT_EQ(reads(*b.target), 4096 / 16 + 2048);
}

// The verify verb on its own: a match, then a changed cell named by its
// address and counted; an unusable file is refused before anything is sent.
TEST_F(EngineTest, VerifyComparesTheFlashWithAFile) {
  const auto bytes = RandomBytes(200, 5);
  Station s(HexFile("v.hex", bytes));
  s.target->Load(sim::Memory::Code, 0, bytes);
  s.Connect();

  ASSERT_TRUE(s.engine.VerifyFile(s.settings.HexBinFile));
  ASSERT_TRUE(PumpUntil([&] { return !s.engine.Busy() && s.session.LastOutcome(); }, 20000));
  EXPECT_EQ(s.session.LastOutcome()->kind, OutcomeKind::Finished);
  EXPECT_EQ(s.session.LastOutcome()->compared, 200u);

  const std::uint8_t changed[] = {static_cast<std::uint8_t>(bytes[0x42] ^ 0x10)};
  s.target->Load(sim::Memory::Code, 0x42, changed);
  const std::size_t before = s.outcomes.size();
  ASSERT_TRUE(s.engine.VerifyFile(s.settings.HexBinFile));
  ASSERT_TRUE(PumpUntil([&] { return !s.engine.Busy() && s.outcomes.size() > before; }, 20000));
  const Outcome& differs = s.outcomes.back();
  EXPECT_EQ(differs.kind, OutcomeKind::VerifyDifferences);
  EXPECT_EQ(differs.differing, 1u);
  EXPECT_EQ(differs.address, 0x42u);

  const std::size_t sent = s.target->Transcript().size();
  std::ofstream(s.settings.HexBinFile) << ":10000000\n";
  ASSERT_TRUE(s.engine.VerifyFile(s.settings.HexBinFile));
  EXPECT_EQ(s.outcomes.back().kind, OutcomeKind::BadFile);
  EXPECT_EQ(s.target->Transcript().size(), sent);
}

// The port's exception stops at the engine's edge: the run ends with a
// PortFailed outcome carrying the port's own text, shown as an error box.
TEST(EngineEdge, APortErrorInAVerbIsAnOutcome) {
  EnsureApplication();
  Session session;
  RecordingUi ui;
  FixedSettings reload;
  TComm comm;  // never opened: its writes fail
  session.AttachUi(&ui);
  session.AttachPort(&comm);
  session.NotePortOpened();
  session.TargetConnected = true;
  Engine engine(session, reload);
  ASSERT_TRUE(engine.Upload(MemoryKind::SFR));
  ASSERT_TRUE(session.LastOutcome());
  EXPECT_EQ(session.LastOutcome()->kind, OutcomeKind::PortFailed);
  ASSERT_EQ(ui.boxes.size(), 1u);
  EXPECT_EQ(ui.boxes[0].kind, MessageKind::Error);
  EXPECT_NE(ui.boxes[0].text.find("(Error: "), std::string::npos) << ui.boxes[0].text;
}

}  // namespace
}  // namespace varnel::testing
