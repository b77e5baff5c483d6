#include "memory/UploadSequence.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <map>

#include "link/HexText.h"
#include "support/RecordingUi.h"
#include "support/ScriptedPort.h"

namespace varnel {
namespace {

using testing::RecordingUi;
using testing::ScriptedPort;

// Answers every read command from the images of a pretend target, as the
// boot loader does: sixteen blank-separated pairs (one for "RR"), CR LF, ">".
class UploadTest : public ::testing::Test {
 protected:
  void SetUp() override {
    session.AttachUi(&ui);
    session.AttachPort(&port);
    session.NotePortOpened();
    session.TargetConnected = true;
    reload.onLoad = [this] {
      ++loads;
      session.ProjectSettings = settings;
    };
    for (int i = 0; i < 0x8000; ++i) target.CodeImage.Write(i, static_cast<std::uint8_t>(i * 7));
    for (int i = 0; i < 0x800; ++i) target.ExtRAMImage.Write(i, static_cast<std::uint8_t>(i + 1));
    for (int i = 0; i < 0x100; ++i) {
      target.IRAMImage.Write(i, static_cast<std::uint8_t>(255 - i));
      target.SFRImage.Write(i, static_cast<std::uint8_t>(i ^ 0x5A));
    }
    for (int i = 0; i < 0x80; ++i) target.CfgImage.Write(i, 0xFF);
  }

  std::string Reply(const std::string& command) const {
    const std::string prefix = echo ? command + " " : "";
    if (command.starts_with("RR")) {
      return prefix + HDPrev(target.SFRImage.Read(DecPrev(command.substr(2, 2)))) + "\r\n>";
    }
    const MemoryImage* image = nullptr;
    std::int32_t address = 0;
    if (command.starts_with("CR")) image = &target.CodeImage, address = DecPrev(command.substr(2));
    if (command.starts_with("XR")) image = &target.ExtRAMImage, address = DecPrev(command.substr(2));
    if (command.starts_with("IR")) image = &target.IRAMImage, address = DecPrev(command.substr(2));
    if (command.starts_with("F")) image = &target.CfgImage, address = DecPrev(command.substr(1));
    if (!image) return "?>";
    std::string data;
    for (int i = 0; i < 16; ++i) data += (i ? " " : "") + HDPrev(image->Read(address + i));
    return prefix + data + "\r\n>";
  }

  // Answers commands until the sequence stops sending (or stopAfter replies).
  void Run(std::size_t stopAfter = SIZE_MAX) {
    for (std::size_t replies = 0; handled < port.writes.size() && replies < stopAfter; ++replies) {
      const std::string command = port.writes[handled++];
      sent.push_back(command);
      if (onCommand) onCommand(command);
      port.Deliver(line ? line(command, Reply(command)) : Reply(command));
    }
  }

  std::string Letters() const {
    std::string letters;
    for (const auto& c : sent) {
      if (letters.empty() || letters.back() != c[0]) letters += c[0];
    }
    return letters;
  }

  Session session;
  testing::FixedSettings reload;
  RecordingUi ui;
  ScriptedPort port;
  UploadSequence upload{session, reload};
  ProjectSettingsRecord settings;
  MemoryImages target;
  bool echo = false;
  int loads = 0;
  std::size_t handled = 0;
  std::vector<std::string> sent;
  std::function<void(const std::string&)> onCommand;
  // The line between the target and the port: what the port gets of a reply.
  std::function<std::string(const std::string& command, const std::string& reply)> line;
};

TEST_F(UploadTest, CodeUploadReadsTheFlashSizeAndStoresEveryByte) {
  settings.CodeMax = 0;  // the identified flash size decides
  session.TargetIdCode = 2;
  upload.Upload(MemoryKind::Code);
  EXPECT_FALSE(ui.toolBarsEnabled);
  EXPECT_EQ(ui.progressName, "CODE");
  EXPECT_EQ(ui.barMax, 0x3FFF);
  Run();
  ASSERT_EQ(sent.size(), 1024u);
  EXPECT_EQ(sent.front(), "CR0000");
  EXPECT_EQ(sent.back(), "CR3FF0");
  for (int i = 0; i < 0x4000; ++i) ASSERT_EQ(session.Images.CodeImage.Read(i), target.CodeImage.Read(i));
  EXPECT_EQ(session.Images.CodeImage.Read(0x4000), 0xFF);
  EXPECT_TRUE(session.LastCommand.empty());
  EXPECT_EQ(ui.refreshed, std::vector<MemoryKind>{MemoryKind::Code});
  EXPECT_TRUE(ui.toolBarsEnabled);
  EXPECT_FALSE(ui.progressOpen);
  EXPECT_TRUE(session.ShowRxProgress);
  EXPECT_EQ(session.CurrentAddress, 0);
  EXPECT_EQ(loads, 1);
}

TEST_F(UploadTest, CodeEndFollowsIdentificationAndSettings) {
  settings.CodeMax = 0;
  session.TargetIdCode = 5;  // MSC1211Y3: the same flash size as an MSC1210Y3
  upload.Upload(MemoryKind::Code);
  Run();
  EXPECT_EQ(sent.back(), "CR1FF0");

  sent.clear();
  session.TargetIdCode = 0x3F;  // no flash size: the previous end stays
  session.SetEndAddress(0x0FFF);
  upload.Upload(MemoryKind::Code);
  Run();
  EXPECT_EQ(sent.back(), "CR0FF0");

  sent.clear();
  settings.CodeMin = 0x0A35;
  settings.CodeMax = 0x1234;
  session.Images.CodeImage.Fill(0xFF);
  upload.Upload(MemoryKind::Code);
  Run();
  EXPECT_EQ(sent.front(), "CR0A30");
  EXPECT_EQ(sent.back(), "CR1230");
  EXPECT_EQ(session.Images.CodeImage.Read(0x123F), target.CodeImage.Read(0x123F));
  EXPECT_EQ(session.Images.CodeImage.Read(0x1240), 0xFF);
}

TEST_F(UploadTest, RangesAreCutAtTheImageEnd) {
  settings.CodeMax = 0xFFFF;
  upload.Upload(MemoryKind::Code);
  Run();
  EXPECT_EQ(sent.back(), "CR7FF0");

  sent.clear();
  settings.ExtMax = 0x0FFF;
  upload.Upload(MemoryKind::ExtRAM);
  Run();
  EXPECT_EQ(sent.back(), "XR07F0");

  sent.clear();
  settings.IRAMMin = 0x08;
  settings.IRAMMax = 0x1FF;  // would wrap round to IR08 again
  session.Images.IRAMImage.Fill(0xFF);
  upload.Upload(MemoryKind::IRAM);
  Run();
  EXPECT_EQ(sent.size(), 16u);
  EXPECT_EQ(sent.back(), "IRF8");
  EXPECT_EQ(session.Images.IRAMImage.Read(0x07), 0xFF);
  EXPECT_EQ(session.Images.IRAMImage.Read(0xFF), target.IRAMImage.Read(0xFF));

  // A range lying wholly outside its image asks for nothing; the run goes on.
  sent.clear();
  settings.UploadCode = false;
  settings.ExtMin = 0x0900;
  upload.UploadAll();
  Run();
  EXPECT_EQ(Letters(), "RF");
  EXPECT_TRUE(ui.toolBarsEnabled);
}

TEST_F(UploadTest, InternalRamAndSfrRangesAndProgress) {
  settings.IRAMMin = 0x08;
  settings.IRAMMax = 0x7F;
  upload.Upload(MemoryKind::IRAM);
  EXPECT_EQ(ui.barMin, 8);
  EXPECT_EQ(ui.barMax, 127);
  EXPECT_EQ(ui.progressBytes, "0 bytes");
  Run();
  EXPECT_EQ(sent, (std::vector<std::string>{"IR08", "IR18", "IR28", "IR38", "IR48", "IR58",
                                            "IR68", "IR78"}));

  sent.clear();
  echo = true;
  std::string bytesAfterFirst;
  onCommand = [&](const std::string& c) {
    if (c == "RR81") bytesAfterFirst = ui.progressBytes;
  };
  upload.Upload(MemoryKind::SFR);
  EXPECT_EQ(ui.progressName, "SFR");
  Run();
  EXPECT_EQ(sent.size(), 128u);
  EXPECT_EQ(sent.back(), "RRFF");
  EXPECT_EQ(bytesAfterFirst, "128 bytes");
  for (int r = 0x80; r <= 0xFF; ++r) ASSERT_EQ(session.Images.SFRImage.Read(r), r ^ 0x5A);
}

TEST_F(UploadTest, EchoIsOnlyTheCommandsOwnText) {
  // Data that begins with the command's letter is data, not an echo.
  target.CodeImage.Write(0, 0xC5);
  settings.CodeMax = 0x000F;
  upload.Upload(MemoryKind::Code);
  Run();
  EXPECT_EQ(session.Images.CodeImage.Read(0), 0xC5);
  EXPECT_EQ(session.Images.CodeImage.Read(15), target.CodeImage.Read(15));

  // Erased configuration page without echo: "FF FF ..." is stored unshifted.
  target.CfgImage.Write(0x7E, 0x50);
  target.CfgImage.Write(0x7F, 0x7F);
  upload.Upload(MemoryKind::Cfg);
  Run();
  EXPECT_EQ(session.Images.CfgImage.Read(0), 0xFF);
  EXPECT_EQ(session.Images.CfgImage.Read(0x7E), 0x50);
  EXPECT_EQ(session.Images.CfgImage.Read(0x7F), 0x7F);
  EXPECT_EQ(sent.back(), "F70");

  // An echo running straight into the digits loses none of them.
  session.Await("F00");
  session.SetEndAddress(0x7F);
  port.Deliver("F00A1B2C3D4E5F60718293A4B5C6D7E8F90\r\n>");
  EXPECT_EQ(session.Images.CfgImage.Read(0), 0xA1);
  EXPECT_EQ(session.Images.CfgImage.Read(15), 0x90);

  // The echoed reply with blanks stores the same bytes as the bare one.
  session.Await("CR0010");
  session.SetEndAddress(0x7FFF);
  port.Deliver("CR0010 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F 10\r\n>");
  for (int i = 0; i < 16; ++i) EXPECT_EQ(session.Images.CodeImage.Read(0x10 + i), i + 1);
}

TEST_F(UploadTest, Decode16bDataStoresWhatTheReplyHolds) {
  session.Await("CR0100");
  session.SetEndAddress(0x7FFF);
  std::string text(32, '0');
  text += "7";  // a 33rd character is a pair of one
  upload.Decode16bData(text, 0x100);
  for (int i = 0; i < 16; ++i) EXPECT_EQ(session.Images.CodeImage.Read(0x100 + i), 0);
  EXPECT_EQ(session.Images.CodeImage.Read(0x110), 7);

  // Past its end a sequence stores the first pair only.
  session.SetCurrentAddress(0x200);
  session.SetEndAddress(0x100);
  session.Await("XR0200");
  upload.Decode16bData("11 22 33", 0x200);
  EXPECT_EQ(session.Images.ExtRAMImage.Read(0x200), 0x11);
  EXPECT_EQ(session.Images.ExtRAMImage.Read(0x201), 0xFF);

  session.Await("RR80");  // no block image for register reads
  upload.Decode16bData("12", 0x80);
  EXPECT_EQ(session.Images.SFRImage.Read(0x80), 0xFF);
}

TEST_F(UploadTest, UploadAllReadsTheSelectionThenTheConfigurationPage) {
  struct Case {
    bool code, ext, sfr;
    const char* letters;
  };
  for (const Case& c : {Case{true, false, true, "CRF"}, Case{true, true, true, "CXRF"},
                        Case{false, false, false, "F"}, Case{false, true, false, "XF"}}) {
    settings.UploadCode = c.code, settings.UploadExtRAM = c.ext, settings.UploadSFR = c.sfr;
    sent.clear();
    loads = 0;
    const int windows = ui.progressCreated;
    upload.UploadAll();
    Run();
    EXPECT_EQ(Letters(), c.letters);
    EXPECT_EQ(loads, 1);
    EXPECT_EQ(ui.progressCreated - windows, static_cast<int>(std::string(c.letters).size()));
    EXPECT_FALSE(session.UploadAllActive);
    EXPECT_TRUE(ui.toolBarsEnabled);
  }
}

TEST_F(UploadTest, WithoutAConnectionOnlyTheSettingsAreReloaded) {
  session.TargetConnected = false;
  upload.UploadAll();
  upload.Upload(MemoryKind::Code);
  EXPECT_EQ(loads, 2);
  EXPECT_TRUE(port.writes.empty());
  EXPECT_TRUE(ui.toolBarsEnabled);
  EXPECT_FALSE(session.UploadAllActive);
  EXPECT_EQ(ui.progressCreated, 0);
}

TEST_F(UploadTest, CancelEndsTheRunAtTheNextReply) {
  settings.CodeMax = 0x00FF;
  onCommand = [&](const std::string& c) {
    if (c == "XR0020") session.RequestStop();
  };
  upload.UploadAll();
  Run();
  EXPECT_EQ(sent.back(), "XR0020");
  EXPECT_EQ(Letters(), "CX");
  EXPECT_TRUE(session.LastCommand.empty());
  EXPECT_FALSE(session.UploadAllActive);
  EXPECT_TRUE(ui.toolBarsEnabled);
  EXPECT_EQ(ui.refreshAllCount, 1);

  // A following single upload reloads and ends after CODE.
  onCommand = nullptr;
  sent.clear();
  upload.Upload(MemoryKind::Code);
  Run();
  EXPECT_EQ(Letters(), "C");
  EXPECT_EQ(loads, 2);
}

TEST_F(UploadTest, StaleStopRequestNeverCancelsANewUpload) {
  session.RequestStop();
  settings.CodeMax = 0x003F;
  upload.Upload(MemoryKind::Code);
  Run();
  EXPECT_EQ(sent.size(), 4u);
  EXPECT_EQ(ui.refreshed, std::vector<MemoryKind>{MemoryKind::Code});
}

TEST_F(UploadTest, StartWhileASequenceRunsIsRefusedWithoutEffects) {
  settings.CodeMax = 0x003F;
  upload.Upload(MemoryKind::Code);
  Run(1);
  settings.CodeMax = 0x7FFF;  // a reload now would change the running upload
  const auto writes = port.writes.size();
  upload.Upload(MemoryKind::SFR);
  upload.UploadAll();
  upload.Upload(MemoryKind::Cfg);
  EXPECT_EQ(port.writes.size(), writes);
  EXPECT_EQ(loads, 1);
  EXPECT_EQ(session.LastCommand.str(), "CR0010");
  EXPECT_EQ(ui.progressCreated, 1);
  Run();
  EXPECT_EQ(sent.back(), "CR0030");
  EXPECT_TRUE(ui.toolBarsEnabled);
}

TEST_F(UploadTest, ClosedProgressWindowLeavesTheUploadRunning) {
  settings.ExtMax = 0x003F;
  onCommand = [&](const std::string& c) {
    if (c == "XR0010") ui.progressOpen = false;  // the close box
  };
  upload.Upload(MemoryKind::ExtRAM);
  Run();
  EXPECT_EQ(sent.size(), 4u);
  EXPECT_EQ(ui.progressBytes, "0 bytes");  // the first block's, then no more
  EXPECT_EQ(ui.refreshed, std::vector<MemoryKind>{MemoryKind::ExtRAM});
}

TEST_F(UploadTest, RepliesThatAreNoDataEndTheUploadWithoutStoringAnything) {
  settings.CodeMin = 0, settings.CodeMax = 0x3F;
  settings.UploadExtRAM = settings.UploadSFR = false;
  // The loader's "?" for the second block of an Upload All run, three times:
  // each is asked again until the tries are spent.
  upload.UploadAll();
  Run(1);
  ASSERT_EQ(port.writes.back(), "CR0010");
  for (int reply = 0; reply < ReadAgain::kTries; ++reply) {
    handled = port.writes.size();
    port.Deliver("?\r\n>");
  }
  EXPECT_EQ(std::count(port.writes.begin(), port.writes.end(), "CR0010"), ReadAgain::kTries);
  EXPECT_TRUE(session.LastCommand.empty());
  EXPECT_FALSE(session.UploadAllActive);
  EXPECT_TRUE(ui.toolBarsEnabled);
  EXPECT_FALSE(ui.progressOpen);
  ASSERT_EQ(ui.boxes.size(), 1u);
  EXPECT_EQ(ui.boxes[0].text,
            "The target's replies for CODE at 0010h were damaged 3 times in a row (the last was "
            "\"?\": the loader did not take the command); nothing of them was stored.");
  ASSERT_EQ(ui.outcomes.size(), 1u);
  EXPECT_EQ(ui.outcomes[0].kind, OutcomeKind::DamagedReplies);
  for (int i = 0x10; i < 0x20; ++i) EXPECT_EQ(session.Images.CodeImage.Read(i), 0xFF);
  EXPECT_EQ(port.writes.size(), handled);  // nothing more asked

  // An echo of another address: out of step, so nothing of it is stored.
  ui.boxes.clear();
  upload.Upload(MemoryKind::ExtRAM);
  ASSERT_EQ(port.writes.back(), "XR0000");
  for (int reply = 0; reply < ReadAgain::kTries; ++reply) {
    port.Deliver("XR0010 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F 10\r\n>");
  }
  ASSERT_EQ(ui.boxes.size(), 1u);
  EXPECT_EQ(ui.boxes[0].text,
            "The target's replies for Ext.RAM at 0000h were damaged 3 times in a row (the last "
            "echoed XR0010, not XR0000); nothing of them was stored.");
  EXPECT_EQ(session.Images.ExtRAMImage.Read(0), 0xFF);

  // Data that happens to begin like a command letter is data.
  ui.boxes.clear();
  upload.Upload(MemoryKind::Cfg);
  ASSERT_EQ(port.writes.back(), "F00");
  port.Deliver("FF FF FF FF FF FF FF FF FF FF FF FF FF FF FF FE\r\n>");
  EXPECT_TRUE(ui.boxes.empty());
}

TEST_F(UploadTest, DamagedRepliesAreReadAgainAndOnlyWholeOnesStored) {
  echo = true;
  settings.CodeMin = 0, settings.CodeMax = 0x4F;
  std::string rest;  // what a false prompt held back, coming while the line drains
  ui.onSleep = [&](int) {
    port.incoming += rest;
    rest.clear();
  };
  std::map<std::string, int> replies;
  line = [&](const std::string& command, std::string reply) {
    if (replies[command]++ > 0) return reply;  // asked again: the reply comes whole
    const std::size_t digit = reply.find("\r\n") - 1;  // the last data digit
    if (command == "CR0010") reply.erase(digit, 1);
    if (command == "CR0020") reply[digit] = 'K';
    if (command == "CR0030") reply.insert(digit, 1, reply[digit]);
    if (command == "CR0040") {
      // A digit turned into ">" at the end of the first piece: the rest of
      // the reply must not be taken for the next block.
      rest = reply.substr(13);
      reply = reply.substr(0, 12) + ">";
    }
    return reply;
  };
  upload.Upload(MemoryKind::Code);
  Run();
  EXPECT_EQ(sent, (std::vector<std::string>{"CR0000", "CR0010", "CR0010", "CR0020", "CR0020",
                                            "CR0030", "CR0030", "CR0040", "CR0040"}));
  for (int i = 0; i < 0x50; ++i) ASSERT_EQ(session.Images.CodeImage.Read(i), target.CodeImage.Read(i)) << i;
  EXPECT_EQ(session.Images.CodeImage.Read(0x50), 0xFF);
  EXPECT_EQ(session.RepliesReadAgain, 4u);
  EXPECT_TRUE(ui.boxes.empty());
  EXPECT_TRUE(ui.toolBarsEnabled);

  // A register reply with a digit lost: asked again, then stored.
  replies.clear();
  sent.clear();
  settings.SFRMin = 0x80, settings.SFRMax = 0x81;
  line = [&](const std::string& command, std::string reply) {
    return replies[command]++ == 0 && command == "RR81" ? "RR81 2\r\n>" : reply;
  };
  upload.Upload(MemoryKind::SFR);
  Run();
  EXPECT_EQ(sent, (std::vector<std::string>{"RR80", "RR81", "RR81"}));
  EXPECT_EQ(session.Images.SFRImage.Read(0x81), target.SFRImage.Read(0x81));
  EXPECT_EQ(session.RepliesReadAgain, 5u);
}

TEST_F(UploadTest, ALineThatDamagesEveryReplyEndsTheRunStoringNothing) {
  settings.UploadCode = settings.UploadSFR = true;
  settings.CodeMin = 0, settings.CodeMax = 0x1F;
  line = [](const std::string&, const std::string& reply) { return reply.substr(1); };
  upload.UploadAll();
  Run();
  EXPECT_EQ(sent, (std::vector<std::string>(ReadAgain::kTries, "CR0000")));
  ASSERT_EQ(ui.boxes.size(), 1u);
  EXPECT_EQ(ui.boxes[0].text,
            "The target's replies for CODE at 0000h were damaged 3 times in a row (the last held "
            "31 hex digits, not 32); nothing of them was stored.");
  for (int i = 0; i < 0x20; ++i) EXPECT_EQ(session.Images.CodeImage.Read(i), 0xFF);
  EXPECT_FALSE(session.UploadAllActive);  // no SFR, no configuration page
  EXPECT_TRUE(session.LastCommand.empty());

  // The next run starts with all its tries.
  line = nullptr;
  sent.clear();
  upload.Upload(MemoryKind::Code);
  Run();
  EXPECT_EQ(sent.size(), 2u);
  EXPECT_EQ(session.Images.CodeImage.Read(0x1F), target.CodeImage.Read(0x1F));
}

}  // namespace
}  // namespace varnel
