// The recorded scenarios and the host that runs them.
#include "replay/Scenarios.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <span>

#include "connect/Identification.h"
#include "link/Trace.h"
#include "memory/CancelWatchdog.h"
#include "support/EventLoop.h"
#include "support/TestData.h"
#include "target-sim/TargetSim.h"

namespace varnel::testing {
namespace {

const std::filesystem::path kFolder = kTestData / "conversations";

constexpr MemoryKind kKinds[] = {MemoryKind::Code, MemoryKind::ExtRAM, MemoryKind::IRAM,
                                 MemoryKind::SFR, MemoryKind::Cfg};

// The registers the handshake reads: identification, baud-timer reload.
const std::vector<CellRange> kHandshakeCells = {
    {MemoryKind::SFR, 0xCA, 0xCB}, {MemoryKind::SFR, 0xE9, 0xE9}};

std::string Flag(bool on) { return on ? "1" : "0"; }

// A text of the state, escaped and quoted, so that no fact line ends in a
// blank an editor might take away.
std::string Quoted(std::string_view text) { return "\"" + TraceText(text) + "\""; }

std::int32_t HexField(const std::string& text, std::size_t at, std::size_t digits) {
  if (text.size() < at + digits) return -1;
  return static_cast<std::int32_t>(std::strtol(text.substr(at, digits).c_str(), nullptr, 16));
}

}  // namespace

const std::vector<Scenario>& Scenarios() {
  static const std::vector<Scenario> scenarios = {
      {"connect", "the connect handshake", Scenario::Run::ConnectOnly, false},
      {"upload-all", "Upload All", Scenario::Run::UploadAll, false},
      {"program", "a programming run", Scenario::Run::Program, false},
      {"refused-erase", "a programming run whose erase the loader refuses",
       Scenario::Run::Program, true},
  };
  return scenarios;
}

std::string ConversationPath(const Scenario& scenario) {
  return (kFolder / (std::string(scenario.file) + ".trace")).lexically_normal().string();
}

std::string ProgramFilePath() { return (kFolder / "program.hex").lexically_normal().string(); }

void LoadTargetMemories(sim::TargetSim& target) {
  // Blocks that begin with C0h-CFh (the read command's own letter as hex)
  // and an erased-looking block of FFh, among plain varied bytes.
  std::vector<std::uint8_t> code(0x200);
  for (std::size_t a = 0; a < code.size(); ++a) {
    code[a] = a % 16 == 0 ? static_cast<std::uint8_t>(0xC0 + a / 16 % 16)
                          : static_cast<std::uint8_t>(a * 37 + 11);
  }
  std::fill(code.begin() + 0x60, code.begin() + 0x70, 0xFF);
  target.Load(sim::Memory::Code, 0, code);
  std::vector<std::uint8_t> xdata(0x100);
  for (std::size_t a = 0; a < xdata.size(); ++a) xdata[a] = static_cast<std::uint8_t>(a * 3 + 1);
  target.Load(sim::Memory::ExtRam, 0, xdata);
  // E0h-FFh, the identification register E9h left as the chip has it.
  std::vector<std::uint8_t> sfr(0x20);
  for (std::size_t i = 0; i < sfr.size(); ++i) sfr[i] = static_cast<std::uint8_t>(0x5A + 7 * i);
  target.Load(sim::Memory::Sfr, 0xE0, std::span(sfr).first(9));
  target.Load(sim::Memory::Sfr, 0xEA, std::span(sfr).subspan(10));
  std::vector<std::uint8_t> cfg(0x80);
  for (std::size_t a = 0; a < cfg.size(); ++a) cfg[a] = static_cast<std::uint8_t>(0x80 | a);
  cfg[0x7E] = 0xFE;  // HCR1
  cfg[0x7F] = 0xFF;  // HCR0: EPMA set, flash programming allowed
  target.Load(sim::Memory::Config, 0, cfg);
}

std::vector<CellRange> FilledCells(const Scenario& scenario) {
  std::vector<CellRange> cells = kHandshakeCells;
  if (scenario.run == Scenario::Run::UploadAll) {
    cells.insert(cells.end(), {{MemoryKind::Code, 0x0000, 0x00FF},
                               {MemoryKind::ExtRAM, 0x0000, 0x007F},
                               {MemoryKind::SFR, 0xE0, 0xFF},
                               {MemoryKind::Cfg, 0x00, 0x7F}});
  }
  return cells;
}

std::vector<CellRange> CellsAnsweredBy(const std::string& command) {
  const auto block = [](MemoryKind kind, std::int32_t at) -> std::vector<CellRange> {
    if (at < 0) return {};
    return {{kind, at, at + 15}};
  };
  if (command.starts_with("CR")) return block(MemoryKind::Code, HexField(command, 2, 4));
  if (command.starts_with("XR")) return block(MemoryKind::ExtRAM, HexField(command, 2, 4));
  if (command.starts_with("IR")) return block(MemoryKind::IRAM, HexField(command, 2, 2));
  if (command.starts_with("F")) return block(MemoryKind::Cfg, HexField(command, 1, 2));
  if (command.starts_with("RR")) {
    const std::int32_t at = HexField(command, 2, 2);
    if (at >= 0) return {{MemoryKind::SFR, at, at}};
  }
  return {};
}

std::string ImageFaults(const Session& session, const Conversation& conversation) {
  std::string faults;
  int count = 0;
  for (MemoryKind kind : kKinds) {
    const MemoryImage& image = session.Images.Of(kind);
    for (std::size_t a = 0; a < image.Size(); ++a) {
      const auto it = conversation.cells.find({kind, static_cast<std::int32_t>(a)});
      const std::uint8_t expected = it == conversation.cells.end() ? 0xFF : it->second;
      const std::uint8_t held = image.Cells()[a];
      if (held == expected || ++count > 4) continue;
      char line[96];
      std::snprintf(line, sizeof line, "%s %04zX holds %02X, not %02X; ", CellMemoryName(kind),
                    a, held, expected);
      faults += line;
    }
  }
  if (count > 4) faults += std::to_string(count) + " cells in all";
  return faults;
}

ScenarioHost::ScenarioHost(const Scenario& s, CommPort& port) : scenario(s) {
  session.AttachUi(&ui);
  session.AttachPort(&port);
  if (port.IsOpen()) session.NotePortOpened();
  settings.BaudText = std::to_string(BaudRateValue(port.BaudRate()));
  settings.CodeMax = 0x00FF;
  settings.ExtMax = 0x007F;
  settings.SFRMin = 0xE0;
  settings.SFRMax = 0xFF;
  settings.HexBinFile = ProgramFilePath();
  session.ProjectSettings = settings;
  reload.onLoad = [this] {
    session.ProjectSettings = settings;
    session.ChooseProgramFile(settings.HexBinFile);
  };
}

bool ScenarioHost::Pump(const std::function<bool()>& done, int timeoutMs) {
  if (PumpUntil([&] { return done() || (peerQuiet && peerQuiet()); }, timeoutMs)) return done();
  ++timeOuts_;
  return false;
}

void ScenarioHost::Connect() {
  ConnectHandshake handshake(session, display, NumberFormat{});
  handshake.Prepare();
  handshake.Start();
  // A handshake that works takes seven ticks; a confused one is given a few more.
  for (int ticks = 0; !display.closed && display.timer >= 0 && ticks < 20; ++ticks) {
    // After a banner the echoed "RRE9" and "E" both answer before the next step.
    const long prompts = handshake.AwaitingReply() && handshake.HandshakeCommand() == "E" ? 2 : 1;
    Pump([&] {
      return std::count(session.RxBuffer.begin(), session.RxBuffer.end(), '>') >= prompts;
    });
    handshake.Tick();
  }
  handshake.Close();
  // The window waits 1.5 s before it closes (instant here): by then the
  // reply to the last "RRE9" is in, and the next sequence clears it.
  if (display.closed) Pump([&] { return session.RxBuffer.ends_with('>'); });
}

void ScenarioHost::RunSequence() {
  switch (scenario.run) {
    case Scenario::Run::ConnectOnly: return;
    case Scenario::Run::UploadAll: upload.UploadAll(); break;
    case Scenario::Run::Program: program.Program(); break;
  }
  Pump([&] { return !Busy(); }, 20000);
}

void ScenarioHost::Cancel() {
  ui.EndProgress();  // Cancel closes the progress window
  CancelWatchdog watchdog(session);
  int delay = watchdog.Cancel();
  // A line download ends itself over a few more replies; the watchdog keeps
  // looking while they come.
  for (int checks = 0; delay > 0 && checks < 20; ++checks) {
    Pump([&] { return !session.StopRequested; }, delay + 5000);
    delay = watchdog.Check();
  }
}

bool ScenarioHost::Busy() const {
  return !session.LastCommand.empty() || session.UploadAllActive || session.ProgrammingActive;
}

std::vector<std::string> ScenarioHost::Summary() const {
  const Session& s = session;
  std::vector<std::string> facts = {
      "connected " + Flag(s.TargetConnected),
      "target " + Quoted(s.TargetName),
      "firmware " + Quoted(s.FirmwareVersion),
      "id " + std::to_string(s.TargetIdCode),
      "clock " + std::to_string(s.CoreClockHz),
      "core " + Quoted(display.core),
      "caption " + Quoted(ui.caption),
      "target buttons " + Flag(ui.targetButtonsEnabled),
      "toolbars " + Flag(ui.toolBarsEnabled),
      "pending " + Quoted(s.LastCommand.str()),
      "stop requested " + Flag(s.StopRequested),
      "programming " + Flag(s.ProgrammingActive),
      "upload all " + Flag(s.UploadAllActive),
      "program file open " + Flag(program.LineFileOpen()),
      "progress open " + Flag(ui.progressOpen),
  };
  for (const RecordingUi::Box& box : ui.boxes) {
    facts.push_back(std::string("box ") + (box.kind == MessageKind::Error ? "error " : "information ") +
                    Quoted(box.text));
  }
  for (const Outcome& outcome : ui.outcomes) {
    facts.push_back(std::string("outcome ") + KindName(outcome.kind) + " " + Quoted(outcome.text));
  }
  if (ui.noticeLook) {
    facts.push_back("notice " + Quoted(ui.progressCaption) + " " + Quoted(ui.progressLead) + " " +
                    Quoted(ui.progressButton));
  }
  return facts;
}

}  // namespace varnel::testing
