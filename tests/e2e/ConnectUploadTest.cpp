// Connect and uploads end to end: the real serial component on a
// pseudo-terminal, the boot-loader simulator at the other end.
#include <QPointer>
#include <QTest>

#include "connect/Connect.h"
#include "link/HexText.h"
#include "memory/UploadSequence.h"
#include "support/EventLoop.h"
#include "TargetLink.h"

namespace varnel::testing {
namespace {

using sim::Memory;

class ConnectUploadTest : public TargetLink {
 protected:
  bool Busy() const { return upload.Busy(); }

  // The session's image against the target's memory over [from, to].
  void ExpectSame(MemoryKind kind, Memory memory, int from, int to) {
    const auto theirs = target->Read(memory);
    const MemoryImage& ours = session.Images.Of(kind);
    int differences = 0;
    for (int a = from; a <= to; ++a) {
      if (ours.Read(a) != theirs[static_cast<std::size_t>(a)] && ++differences <= 3) {
        ADD_FAILURE() << "cell " << std::hex << a << ": " << int(ours.Read(a)) << " vs "
                      << int(theirs[static_cast<std::size_t>(a)]);
      }
    }
    EXPECT_EQ(differences, 0);
  }

  UploadSequence upload{session, reload};
};

TEST_F(ConnectUploadTest, ConnectAfterBannerThenAfterBarePrompt) {
  StartTarget();
  const RecordingDisplay first = Connect();
  EXPECT_TRUE(session.TargetConnected);
  EXPECT_EQ(session.FirmwareVersion, "SIM 1.0.0");
  EXPECT_EQ(first.firmware, "SIM 1.0.0");
  EXPECT_EQ(session.TargetName, "MSC1210Y5");
  EXPECT_EQ(ui.caption, "Varnel - Target: MSC1210Y5");
  EXPECT_TRUE(ui.targetButtonsEnabled);
  EXPECT_EQ(target->Transcript(), (std::vector<std::string>{"\r", "RRE9", "E", "RRE9", "RRCA",
                                                            "RRCB", "RRE9"}));

  // The loader is awake now: a carriage return gets the bare prompt.
  target->ClearTranscript();
  session.TargetName.clear();
  Connect();
  EXPECT_EQ(target->Transcript(),
            (std::vector<std::string>{"\r", "RRE9", "RRCA", "RRCB", "RRE9"}));
  EXPECT_EQ(session.TargetName, "MSC1210Y5");
}

// Woken by hand in a terminal first: the loader is awake with echo on, and
// the bare-prompt path sends no "E", so every register reply carries its echo.
TEST_F(ConnectUploadTest, ALoaderWokenByHandIsNamedFromTheDigitsAfterTheEcho) {
  StartTarget();
  comm.Write("\r", 1);
  ASSERT_TRUE(PumpUntil([&] { return session.RxBuffer.ends_with('>'); }));
  session.ClearRx();
  Connect();
  EXPECT_TRUE(session.TargetConnected);
  EXPECT_EQ(session.TargetName, "MSC1210Y5");
  EXPECT_EQ(session.CoreClockHz, 11059200);
  EXPECT_TRUE(ui.boxes.empty());
}

TEST_F(ConnectUploadTest, IdentificationValuesAndTheClockText) {
  struct Case {
    int id;
    const char* name;
  };
  for (const Case& c : {Case{0, "MSC1210Y2"}, Case{3, "MSC1210Y5"}, Case{4, "MSC1211Y2"},
                        Case{7, "MSC1211Y5"}}) {
    comm.Close();
    sim::TargetSimConfig config;
    config.idValue = c.id;
    StartTarget(config);
    const RecordingDisplay display = Connect();
    EXPECT_EQ(session.TargetName, c.name);
    EXPECT_EQ(session.TargetIdCode, c.id);
    EXPECT_EQ(display.core, "approx. 11.10MHz");
    EXPECT_EQ(session.CoreClockHz, 11059200);
  }

  comm.Close();
  sim::TargetSimConfig slow;
  slow.clockHz = 7372800;
  StartTarget(slow, br9600);
  EXPECT_EQ(Connect().core, "approx. 7.37MHz");
}

TEST_F(ConnectUploadTest, ConnectWindowOnItsOwnTimer) {
  StartTarget();
  QPointer<TF_Connect> window = new TF_Connect(session);
  window->show();
  EXPECT_TRUE(PumpUntil([&] { return window.isNull(); }, 10000));
  EXPECT_TRUE(session.TargetConnected);
  EXPECT_TRUE(ui.targetButtonsEnabled);
  EXPECT_TRUE(session.TargetName.starts_with("MSC121"));
}

TEST_F(ConnectUploadTest, CodeUploadMatchesTheTargetByteForByte) {
  StartTarget();
  std::vector<std::uint8_t> flash(0x8000);
  std::uint32_t x = 12345;
  for (auto& b : flash) b = static_cast<std::uint8_t>((x = x * 1103515245u + 12345u) >> 16);
  target->Load(Memory::Code, 0, flash);
  Connect();
  settings.CodeMax = 0;  // the identified flash size: 32 KB
  upload.Upload(MemoryKind::Code);
  ASSERT_TRUE(RunUntilIdle([&] { return Busy(); }));
  ExpectSame(MemoryKind::Code, Memory::Code, 0, 0x7FFF);
  EXPECT_EQ(target->Transcript().back(), "CR7FF0");
  EXPECT_TRUE(ui.toolBarsEnabled);
  EXPECT_EQ(ui.refreshed, std::vector<MemoryKind>{MemoryKind::Code});
}

TEST_F(ConnectUploadTest, UploadAllWithEachSelection) {
  StartTarget();
  std::vector<std::uint8_t> ram(0x800);
  for (std::size_t i = 0; i < ram.size(); ++i) ram[i] = static_cast<std::uint8_t>(i * 3);
  target->Load(Memory::ExtRam, 0, ram);
  Connect();
  settings.CodeMax = 0x01FF;
  struct Case {
    bool code, ext, sfr;
    const char* letters;
  };
  for (const Case& c : {Case{true, true, true, "CXRF"}, Case{true, false, true, "CRF"},
                        Case{false, true, false, "XF"}, Case{false, false, false, "F"}}) {
    settings.UploadCode = c.code, settings.UploadExtRAM = c.ext, settings.UploadSFR = c.sfr;
    target->ClearTranscript();
    const int windows = ui.progressCreated;
    upload.UploadAll();
    ASSERT_TRUE(RunUntilIdle([&] { return Busy(); }));
    EXPECT_EQ(CommandLetters(), c.letters);
    EXPECT_EQ(ui.progressCreated - windows, static_cast<int>(std::string(c.letters).size()));
    EXPECT_FALSE(session.UploadAllActive);
    EXPECT_TRUE(ui.toolBarsEnabled);
  }
  ExpectSame(MemoryKind::Code, Memory::Code, 0, 0x1FF);
  ExpectSame(MemoryKind::ExtRAM, Memory::ExtRam, 0, 0x3FF);
  ExpectSame(MemoryKind::SFR, Memory::Sfr, 0x80, 0xFF);
  ExpectSame(MemoryKind::Cfg, Memory::Config, 0, 0x7F);
}

// Blocks whose data begin with C0h-CFh or FFh, with and without the echo,
// replies cut into seven-byte pieces and without a leading line end.
TEST_F(ConnectUploadTest, RepliesWithAndWithoutEchoInSmallPieces) {
  StartTarget();
  std::vector<std::uint8_t> flash(0x200);
  for (std::size_t i = 0; i < flash.size(); ++i) {
    const std::size_t block = i / 16;
    flash[i] = i % 16 ? static_cast<std::uint8_t>(i) : block < 16 ? 0xC0 + block : 0xFF;
  }
  target->Load(Memory::Code, 0, flash);
  target->Fill(Memory::Config, 0xFF);
  Connect();
  settings.CodeMax = 0x013F;
  settings.ExtMax = 0x007F;
  settings.SFRMin = 0xF0;
  for (bool echo : {false, true}) {
    target->Modify([&](sim::TargetSimConfig& c) {
      c.echo = echo;
      c.leadingCrLf = false;
      c.chunkSize = 7;
      c.chunkGapMs = 1;
    });
    session.Images.FillAll();
    upload.UploadAll();
    ASSERT_TRUE(RunUntilIdle([&] { return Busy(); }));
    EXPECT_EQ(target->EchoOn(), echo);
    ExpectSame(MemoryKind::Code, Memory::Code, 0, 0x13F);
    ExpectSame(MemoryKind::SFR, Memory::Sfr, 0xF0, 0xFF);
    ExpectSame(MemoryKind::Cfg, Memory::Config, 0, 0x7F);
    ExpectSame(MemoryKind::ExtRAM, Memory::ExtRam, 0, 0x7F);
  }
}

TEST_F(ConnectUploadTest, CancelMidRunEndsAtTheNextReply) {
  StartTarget();
  Connect();
  settings.CodeMax = 0;
  upload.UploadAll();
  ASSERT_TRUE(PumpUntil([&] { return session.CurrentAddress >= 0x1000; }, 10000));
  ASSERT_TRUE(ui.ProgressIsOpen());
  QTest::mouseClick(ui.host.ProgressWindow()->Btn_Cancel(), Qt::LeftButton);
  EXPECT_FALSE(ui.ProgressIsOpen());
  ASSERT_TRUE(RunUntilIdle([&] { return Busy(); }, 5000));
  EXPECT_EQ(CommandLetters(), "\rRERC");  // handshake, then CODE only
  const std::string last = target->Transcript().back();
  EXPECT_LT(DecPrev(last.substr(2)), 0x7FF0);
  EXPECT_TRUE(ui.toolBarsEnabled);
  EXPECT_FALSE(session.StopRequested);
  EXPECT_GE(ui.refreshAllCount, 2);  // at Cancel and at the end
  ExpectSame(MemoryKind::Code, Memory::Code, 0, 0x0FFF);
}

TEST_F(ConnectUploadTest, SilentTargetThenCancel) {
  StartTarget();
  Connect();
  const std::size_t before = target->CommandCount();
  target->Modify([&](sim::TargetSimConfig& c) { c.silentAfter = static_cast<int>(before) + 5; });
  upload.Upload(MemoryKind::SFR);
  ASSERT_TRUE(PumpUntil([&] { return target->CommandCount() >= before + 6; }, 5000));
  PumpFor(50);
  EXPECT_TRUE(Busy());  // no reply will come
  EXPECT_FALSE(ui.toolBarsEnabled);
  ui.host.ProgressWindow()->Btn_Cancel()->click();
  ASSERT_TRUE(RunUntilIdle([&] { return Busy(); }, 5000));
  EXPECT_TRUE(ui.toolBarsEnabled);
  EXPECT_TRUE(session.LastCommand.empty());
  EXPECT_FALSE(session.StopRequested);
  EXPECT_EQ(target->Transcript().back(), "RR85");
}

}  // namespace
}  // namespace varnel::testing
