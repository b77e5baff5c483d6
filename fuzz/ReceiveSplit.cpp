// The receive path with the upload and programming sequences, fed by the
// simulator's boot-loader state machine through an in-memory port. The
// fuzzer picks the run (which upload, Upload All, a programming run of a
// small file), the loader's echo and line ends, the memories, the ranges and
// steps of the settings, and the pieces in which the loader's output reaches
// the host. Property: the result (images, boxes, outcomes, the commands the
// loader took, its memories, the session's state) does not depend on the
// pieces: it is the same as when everything waiting arrives in one piece.
//
// That holds while every write gets at most one reply. A program line that
// holds more than its record makes the loader take the rest as commands and
// answer each: several replies then wait at once, and the dispatcher takes
// whatever one chunk holds, terminators inside it and all, as one reply, so
// the pieces decide where replies end. Such runs are made, for the
// sanitizers, but not compared.
#include <fuzzer/FuzzedDataProvider.h>
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "LoaderPort.h"
#include "Require.h"
#include "core/Session.h"
#include "link/Trace.h"
#include "memory/UploadSequence.h"
#include "programming/IntelHex.h"
#include "programming/ProgrammingSequence.h"
#include "support/RecordingUi.h"

namespace varnel::fuzz {
namespace {

constexpr int kMaxArrivals = 200000;
std::string g_programPath;

enum class Action { Code, Ext, IRAM, SFR, CFG, All, Program };

struct Setup {
  Action action = Action::Code;
  sim::TargetSimConfig config;
  std::uint32_t memorySeed = 0;
  ProjectSettingsRecord settings;
  std::uint8_t hcr0 = 0xFF, hcr1 = 0xFF;
  std::vector<std::size_t> pieces;
};

struct Result {
  std::vector<std::vector<std::uint8_t>> images, memories;
  std::vector<std::string> boxes, outcomes, commands;
  std::string pending, rxBuffer;
  bool stop = false, programming = false, uploadAll = false, toolBars = false;
  std::uint64_t replies = 0;
  bool severalReplies = false;  // not part of the result: see above
  bool operator==(const Result& other) const {
    return images == other.images && memories == other.memories && boxes == other.boxes &&
           outcomes == other.outcomes && commands == other.commands && pending == other.pending &&
           rxBuffer == other.rxBuffer && stop == other.stop && programming == other.programming &&
           uploadAll == other.uploadAll && toolBars == other.toolBars && replies == other.replies;
  }
};

Setup Read(FuzzedDataProvider& in) {
  Setup s;
  s.action = static_cast<Action>(in.ConsumeIntegralInRange(0, 6));
  s.config.echo = in.ConsumeBool();
  s.config.leadingCrLf = in.ConsumeBool();
  s.config.variant = in.ConsumeIntegralInRange(2, 5);
  s.memorySeed = in.ConsumeIntegral<std::uint32_t>();
  ProjectSettingsRecord& p = s.settings;
  p.CodeMin = in.ConsumeIntegralInRange(0, 0x7FF);
  p.CodeMax = in.ConsumeIntegralInRange(1, 0x7FF);  // 0 would read the whole flash
  p.ExtMin = in.ConsumeIntegralInRange(0, 0x7FF);
  p.ExtMax = in.ConsumeIntegralInRange(0, 0x7FF);
  p.IRAMMin = in.ConsumeIntegralInRange(0, 0xFF);
  p.IRAMMax = in.ConsumeIntegralInRange(0, 0x10F);
  p.SFRMin = in.ConsumeIntegralInRange(0, 0xFF);
  p.SFRMax = in.ConsumeIntegralInRange(0, 0xFF);
  p.UploadCode = in.ConsumeBool();
  p.UploadExtRAM = in.ConsumeBool();
  p.UploadSFR = in.ConsumeBool();
  p.MassErase = in.ConsumeBool();
  p.ErasePS1 = in.ConsumeBool();
  p.ProgFlash = in.ConsumeBool();
  p.ProgPS1 = in.ConsumeBool();
  s.hcr0 = in.ConsumeIntegral<std::uint8_t>();
  s.hcr1 = in.ConsumeIntegral<std::uint8_t>();
  if (s.action == Action::Program) {
    // The program: records of a few bytes somewhere in the flash, then
    // lines of record characters that may or may not make records.
    const std::vector<std::uint8_t> bytes = in.ConsumeBytes<std::uint8_t>(in.ConsumeIntegralInRange(0, 48));
    const auto base = in.ConsumeIntegralInRange<std::uint32_t>(0, 0x1FFF);
    std::string text = WriteIntelHex(bytes, base);
    if (in.ConsumeBool()) text.erase(text.size() - 13);  // without its end record
    static constexpr char kRecordChars[] = ":0123456789ABCDEF\n";
    for (char c : in.ConsumeRandomLengthString(64)) {
      text += kRecordChars[static_cast<unsigned char>(c) % (sizeof kRecordChars - 1)];
    }
    FILE* f = std::fopen(g_programPath.c_str(), "wb");
    if (!f) std::abort();
    std::fwrite(text.data(), 1, text.size(), f);
    std::fclose(f);
  }
  for (std::uint8_t b : in.ConsumeRemainingBytes<std::uint8_t>()) s.pieces.push_back(1 + b % 24);
  if (s.pieces.empty()) s.pieces.push_back(7);
  return s;
}

void FillMemories(sim::BootLoader& loader, std::uint32_t seed) {
  std::minstd_rand random(seed | 1);
  for (auto memory : {sim::Memory::Code, sim::Memory::ExtRam, sim::Memory::Iram, sim::Memory::Sfr,
                      sim::Memory::Config}) {
    for (std::uint8_t& cell : loader.Mem(memory)) cell = static_cast<std::uint8_t>(random());
  }
}

Result Run(const Setup& s, bool split) {
  LoaderPort port(s.config);
  FillMemories(port.loader, s.memorySeed);
  port.Wake();

  Session session;
  testing::RecordingUi ui;
  testing::FixedSettings reload;
  reload.onLoad = [&] {
    session.ProjectSettings = s.settings;
    session.ChooseProgramFile(g_programPath);
    session.Images.CfgImage.Write(MemoryImages::kHCR0Offset, s.hcr0);
    session.Images.CfgImage.Write(MemoryImages::kHCR1Offset, s.hcr1);
  };
  UploadSequence upload(session, reload);
  ProgrammingSequence program(session, reload);
  session.AttachUi(&ui);
  session.AttachPort(&port);
  session.NotePortOpened();
  session.TargetConnected = true;
  session.TargetIdCode = s.config.variant - 2;
  session.CoreClockHz = 11059200;

  switch (s.action) {
    case Action::Code: upload.Upload(MemoryKind::Code); break;
    case Action::Ext: upload.Upload(MemoryKind::ExtRAM); break;
    case Action::IRAM: upload.Upload(MemoryKind::IRAM); break;
    case Action::SFR: upload.Upload(MemoryKind::SFR); break;
    case Action::CFG: upload.Upload(MemoryKind::Cfg); break;
    case Action::All: upload.UploadAll(); break;
    case Action::Program: program.Program(); break;
  }
  // VARNEL_FUZZ_TRACE=1 shows a run's pieces as they arrive (for a finding).
  static const bool trace = std::getenv("VARNEL_FUZZ_TRACE") != nullptr;
  std::size_t next = 0;
  for (int n = 0; !port.wire.empty() && n < kMaxArrivals; ++n) {
    const std::size_t count = split ? s.pieces[next++ % s.pieces.size()] : port.wire.size();
    if (trace) {
      std::fprintf(stderr, "%s pending \"%s\" gets \"%s\"\n", split ? "pieces" : "whole ",
                   TraceText(session.LastCommand.str()).c_str(),
                   TraceText(std::string_view(port.wire).substr(0, count)).c_str());
    }
    port.Arrive(count);
  }

  Result r;
  for (MemoryKind kind : {MemoryKind::Code, MemoryKind::ExtRAM, MemoryKind::IRAM, MemoryKind::SFR,
                          MemoryKind::Cfg}) {
    r.images.push_back(session.Images.Of(kind).Cells());
  }
  for (auto memory : {sim::Memory::Code, sim::Memory::Config}) {
    r.memories.push_back(port.loader.Mem(memory));
  }
  for (const auto& box : ui.boxes) r.boxes.push_back(box.text);
  for (const auto& outcome : ui.outcomes) r.outcomes.push_back(outcome.text);
  r.commands = port.commands;
  r.pending = session.LastCommand.str();
  r.rxBuffer = session.RxBuffer;
  r.stop = session.StopRequested;
  r.programming = session.ProgrammingActive;
  r.uploadAll = session.UploadAllActive;
  r.toolBars = ui.toolBarsEnabled;
  r.replies = session.ReplyCount;
  r.severalReplies = port.severalReplies;
  return r;
}

std::string Differences(const Result& a, const Result& b) {
  std::string d;
  if (a.images != b.images) d += "images ";
  if (a.memories != b.memories) d += "loader memories ";
  if (a.boxes != b.boxes) d += "boxes ";
  if (a.outcomes != b.outcomes) d += "outcomes ";
  if (a.commands != b.commands) d += "commands ";
  if (a.pending != b.pending) d += "pending command ";
  if (a.rxBuffer != b.rxBuffer) d += "receive buffer ";
  if (a.stop != b.stop || a.programming != b.programming || a.uploadAll != b.uploadAll ||
      a.toolBars != b.toolBars) {
    d += "flags ";
  }
  if (a.replies != b.replies) {
    d += "replies (" + std::to_string(a.replies) + " vs " + std::to_string(b.replies) + ") ";
  }
  return d;
}

}  // namespace
}  // namespace varnel::fuzz

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  std::string folder = (std::filesystem::temp_directory_path() / "varnel-fuzz-rx-XXXXXX").string();
  if (!::mkdtemp(folder.data())) std::abort();
  static std::string made = folder;
  std::atexit([] {
    std::error_code ignored;
    std::filesystem::remove_all(made, ignored);
  });
  varnel::fuzz::g_programPath = folder + "/program.hex";
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace varnel::fuzz;
  FuzzedDataProvider in(data, size);
  const Setup setup = Read(in);
  const Result whole = Run(setup, false);
  const Result pieces = Run(setup, true);
  if (whole.severalReplies || pieces.severalReplies) return 0;
  Require(whole == pieces, "the result depends on the pieces: " + Differences(whole, pieces));
  return 0;
}
