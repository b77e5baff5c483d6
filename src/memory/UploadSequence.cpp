// Upload sequences: start, block and register replies, finish and the chain
// of an Upload All run.
#include "memory/UploadSequence.h"

#include <algorithm>

#include "link/Commands.h"
#include "link/HexText.h"

namespace varnel {
namespace {

bool IsHexDigit(char c) {
  return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f');
}

MemoryKind KindOfCommand(char letter) {
  const MemoryInfo* entry = InfoByLetter(letter);
  return entry ? entry->kind : MemoryKind::Code;
}

std::string ReadCommand(MemoryKind kind, std::int32_t address) {
  switch (kind) {
    case MemoryKind::Code:
      return cmd::ReadCode(address);
    case MemoryKind::ExtRAM:
      return cmd::ReadExtRam(address);
    case MemoryKind::IRAM:
      return cmd::ReadIram(address & 0xFF);
    case MemoryKind::SFR:
      return cmd::ReadSfr(address & 0xFF);
    case MemoryKind::Cfg:
      return cmd::ReadConfig(address & 0xFF);
  }
  return {};
}

// Block ranges start on a 16-byte boundary (floor, also for odd negative
// settings, which then lie outside the image and are skipped).
std::int32_t BlockStart(std::int32_t address) { return address & ~std::int32_t{0xF}; }

}  // namespace

UploadSequence::UploadSequence(Session& session, SettingsSource& settings)
    : s_(session), settings_(settings) {
  // A read-back stopped by the user ends for the run that asked for it too.
  s_.AddStopHook([this] { EndReadBack({OutcomeKind::Interrupted, kReadBackStopped}); });
  auto block = [this](const std::string& reply) { HandleBlock(reply); };
  s_.RegisterHandler("CR", block);
  s_.RegisterHandler("X", block);
  s_.RegisterHandler("I", block);
  s_.RegisterHandler("F", block);
  s_.RegisterHandler("R", [this](const std::string& reply) { HandleRegister(reply); });
}

bool UploadSequence::Busy() const { return !s_.LastCommand.empty() || s_.UploadAllActive; }

std::int32_t UploadSequence::FlashEndFor(int targetIdCode) {
  return FlashSizeFor(targetIdCode) - 1;
}

bool UploadSequence::MayStart() {
  // A second start while replies are awaited would steal the pending
  // command and the settings of the run in progress.
  if (Busy()) return false;
  settings_.LoadProperties();
  if (!s_.TargetConnected) return false;
  s_.BeginRun();
  return true;
}

bool UploadSequence::PortReadyToStart() {
  if (!PortReady()) return false;  // reported: the run has ended
  s_.BeginSequence();  // a stale Cancel must not end this upload
  return true;
}

bool UploadSequence::Upload(MemoryKind kind) {
  if (!MayStart()) return false;
  if (PortReadyToStart()) Start(kind);
  return true;
}

bool UploadSequence::UploadRange(MemoryKind kind, std::uint32_t first, std::uint32_t last) {
  if (!MayStart()) return false;
  if (!PortReadyToStart()) return true;
  const MemoryInfo& info = InfoOf(kind);
  const auto lo = static_cast<std::int32_t>(first - info.targetBase);
  const auto hi = static_cast<std::int32_t>(last - info.targetBase);
  s_.ClearRx();
  switch (kind) {
    case MemoryKind::Code:
      s_.SetEndAddress(hi | 0xF);  // whole blocks
      StartRange(kind, BlockStart(lo), info.name);
      break;
    case MemoryKind::ExtRAM:
      s_.SetEndAddress(hi);
      StartRange(kind, BlockStart(lo), info.name);
      break;
    case MemoryKind::IRAM:
    case MemoryKind::SFR:
      s_.SetEndAddress(hi);
      StartRange(kind, lo & 0xFF, info.name);
      break;
    case MemoryKind::Cfg:
      Start(kind);  // always the whole page
      break;
  }
  return true;
}

bool UploadSequence::UploadAll() {
  if (!MayStart()) return false;
  if (!PortReadyToStart()) return true;
  s_.BeginUploadAll();
  const auto& ps = s_.ProjectSettings;
  if (ps.UploadCode) {
    Start(MemoryKind::Code);
  } else if (ps.UploadExtRAM) {
    Start(MemoryKind::ExtRAM);
  } else if (ps.UploadSFR) {
    Start(MemoryKind::SFR);
  } else {
    Start(MemoryKind::Cfg);
  }
  return true;
}

void UploadSequence::Start(MemoryKind kind) {
  const auto& ps = s_.ProjectSettings;
  s_.ClearRx();

  std::int32_t first = 0;
  switch (kind) {
    case MemoryKind::Code:
      first = BlockStart(ps.CodeMin);
      if (const std::int32_t flashEnd = FlashEndFor(s_.TargetIdCode); flashEnd >= 0) {
        s_.SetEndAddress(flashEnd);
      }
      if (ps.CodeMax > 0) s_.SetEndAddress(ps.CodeMax);
      break;
    case MemoryKind::ExtRAM:
      first = BlockStart(ps.ExtMin);
      s_.SetEndAddress(ps.ExtMax);
      break;
    case MemoryKind::IRAM:
      first = ps.IRAMMin & 0xFF;
      s_.SetEndAddress(ps.IRAMMax);
      break;
    case MemoryKind::SFR:
      first = ps.SFRMin & 0xFF;
      s_.SetEndAddress(ps.SFRMax);
      break;
    case MemoryKind::Cfg:
      first = 0;
      s_.SetEndAddress(InfoOf(MemoryKind::Cfg).lastDefault);
      break;
  }
  StartRange(kind, first, InfoOf(kind).name);
}

void UploadSequence::StartRange(MemoryKind kind, std::int32_t first, const std::string& name) {
  TargetUi& ui = s_.Ui();
  // Nothing beyond the image is asked for: it could not be stored, and the
  // 8-bit fields would wrap round to the start of the memory.
  const MemoryImage& image = s_.Images.Of(kind);
  s_.SetEndAddress(std::min<std::int32_t>(s_.EndAddress, static_cast<std::int32_t>(image.Size()) - 1));

  const bool fromZero = kind == MemoryKind::Code || kind == MemoryKind::ExtRAM ||
                        kind == MemoryKind::Cfg;
  const std::int32_t barMin = fromZero ? 0 : first;
  ProgressStart progress;
  progress.name = name;
  progress.minimum = progress.position = barMin;
  progress.maximum = s_.EndAddress;
  progress.text = "0 bytes";
  ui.StartProgress(progress);
  s_.ShowReceiveCount(false);

  if (!image.Contains(first)) {
    Finish(kind);  // the whole range lies outside the image
    return;
  }
  s_.SendCommand(ReadCommand(kind, first));
}

std::string UploadSequence::DataText(const std::string& reply) const {
  // Only the pending command's own text counts as its echo: data may well
  // begin with the command's letter (a C0h byte, an erased page's "FF").
  std::string_view data(reply);
  const std::string& command = s_.LastCommand;
  if (!command.empty() && data.starts_with(command)) data.remove_prefix(command.size());
  if (!data.empty() && cmd::IsReplyTerminator(data.back())) data.remove_suffix(1);
  return std::string(data);
}

void UploadSequence::Decode16bData(std::string_view data, std::int32_t start) {
  const std::string text = SeparateChar(data);
  const char letter = s_.LastCommand.front();
  if (letter != 'C' && letter != 'F' && letter != 'I' && letter != 'X') return;
  MemoryImage* image = s_.Images.ByCommandLetter(letter);
  if (!image) return;
  for (std::size_t k = 0; 2 * k < text.size(); ++k) {
    if (k > 0 && s_.CurrentAddress > s_.EndAddress) break;
    const std::int32_t value = DecPrev(std::string_view(text).substr(2 * k, 2));
    image->Write(std::int64_t{start} + static_cast<std::int64_t>(k),
                 static_cast<std::uint8_t>(value & 0xFF));
  }
}

void UploadSequence::HandleBlock(const std::string& reply) {
  const MemoryKind kind = KindOfCommand(s_.LastCommand.front());
  s_.TakeReplyAddress();
  const std::string data = DataText(reply);
  if (Outcome fault = ReplyFault(reply, data); !fault.text.empty()) {
    EndWithError(kind, std::move(fault));
    return;
  }
  Decode16bData(data, s_.CurrentAddress);
  UpdateProgress();
  s_.SetCurrentAddress(s_.CurrentAddress + 16);
  if (s_.CurrentAddress > s_.EndAddress) {
    Finish(kind);
  } else {
    s_.SendCommand(ReadCommand(kind, s_.CurrentAddress));
  }
}

Outcome UploadSequence::ReplyFault(const std::string& reply, const std::string& data) const {
  const std::string& command = s_.LastCommand;
  const std::string memory = InfoOf(KindOfCommand(command.front())).name;
  const std::string where = memory + " at " + HD16Prev(s_.CurrentAddress) + "h";
  Outcome fault{OutcomeKind::DamagedReplies, {}};
  fault.address = static_cast<std::uint32_t>(s_.CurrentAddress);
  fault.command = command;
  fault.memory = memory;
  // An echo of another read command: a reply out of step with what was asked.
  const std::size_t letters = command.front() == 'F' ? 1 : 2;
  if (command.size() > letters && reply.size() >= command.size() &&
      reply.compare(0, letters, command, 0, letters) == 0 &&
      reply.compare(0, command.size(), command) != 0 &&
      std::all_of(reply.begin() + static_cast<long>(letters),
                  reply.begin() + static_cast<long>(command.size()), IsHexDigit) &&
      (reply.size() == command.size() || !IsHexDigit(reply[command.size()]))) {
    fault.text = "The target answered " + reply.substr(0, command.size()) + " to " + command +
                 " for " + where + ". Upload stopped.";
    return fault;
  }
  // "?" or any reply without a single digit pair: nothing to store.
  const std::string digits = SeparateChar(data);
  if (digits.size() < 2 || !IsHexDigit(digits[0]) || !IsHexDigit(digits[1])) {
    // The loader's "?" refuses the address; anything else is damaged.
    if (digits == "?") fault.kind = OutcomeKind::TargetRefused;
    fault.text = "The target's reply to " + command + " holds no data for " + where +
                 ". Upload stopped.";
    return fault;
  }
  return {};
}

bool UploadSequence::PortReady() {
  // The reload has reopened what it could; a closed port would leave the
  // upload waiting for a reply that cannot come.
  if (s_.PortOpen) return true;
  s_.Report({OutcomeKind::PortFailed, ClosedPortText(settings_)});
  return false;
}

void UploadSequence::EndWithError(MemoryKind kind, Outcome outcome) {
  TargetUi& ui = s_.Ui();
  s_.SetCurrentAddress(0);
  s_.EndSequence();
  s_.EndUploadAll();
  if (ui.ProgressOpen()) ui.EndProgress();
  ui.RefreshView(kind);
  s_.ShowReceiveCount(true);
  // A read-back for another run reports to that run; it says what it failed.
  if (readBackDone_) {
    EndReadBack(std::move(outcome));
    return;
  }
  s_.Report(outcome);
}

void UploadSequence::ReadBack(MemoryKind kind, std::int32_t first, std::int32_t last,
                              const std::string& name, Done done) {
  if (Busy()) {
    if (done) done({OutcomeKind::Refused, "another sequence is running"});
    return;
  }
  if (!s_.PortOpen) {
    if (done) done({OutcomeKind::PortFailed, ClosedPortText(settings_)});
    return;
  }
  readBackDone_ = std::move(done);
  s_.BeginSequence();
  s_.ClearRx();
  s_.SetEndAddress(last);
  StartRange(kind, kind == MemoryKind::SFR || kind == MemoryKind::IRAM ? first : BlockStart(first),
             name);
}

void UploadSequence::EndReadBack(const Outcome& outcome) {
  if (!readBackDone_) return;
  Done done = std::move(readBackDone_);
  readBackDone_ = nullptr;
  done(outcome);
}

void UploadSequence::HandleRegister(const std::string& reply) {
  s_.TakeReplyAddress();
  const std::string stripped = SeparateChar(DataText(reply));
  const std::int32_t value = DecPrev(std::string_view(stripped).substr(0, 2));
  s_.Images.SFRImage.Write(s_.CurrentAddress, static_cast<std::uint8_t>(value & 0xFF));
  UpdateProgress();
  s_.SetCurrentAddress(s_.CurrentAddress + 1);
  if (s_.CurrentAddress > s_.EndAddress) {
    Finish(MemoryKind::SFR);
  } else {
    s_.SendCommand(ReadCommand(MemoryKind::SFR, s_.CurrentAddress));
  }
}

void UploadSequence::UpdateProgress() {
  s_.Ui().StepProgress(s_.CurrentAddress, std::to_string(s_.CurrentAddress) + " bytes");
}

void UploadSequence::Finish(MemoryKind kind) {
  TargetUi& ui = s_.Ui();
  s_.SetCurrentAddress(0);
  s_.EndSequence();
  if (ui.ProgressOpen()) ui.EndProgress();
  ui.RefreshView(kind);
  s_.ShowReceiveCount(true);
  if (readBackDone_) {
    EndReadBack({});
    return;
  }
  if (StartNextOfRun(kind)) return;
  Outcome done;
  done.memory = InfoOf(kind).name;
  s_.Report(done);
}

bool UploadSequence::StartNextOfRun(MemoryKind finished) {
  const auto& ps = s_.ProjectSettings;
  const bool run = s_.UploadAllActive;
  switch (finished) {
    case MemoryKind::Code:
      if (run) {
        Start(ps.UploadExtRAM ? MemoryKind::ExtRAM
                              : ps.UploadSFR ? MemoryKind::SFR : MemoryKind::Cfg);
        return true;
      }
      break;
    case MemoryKind::ExtRAM:
      if (run) {
        Start(ps.UploadSFR ? MemoryKind::SFR : MemoryKind::Cfg);
        return true;
      }
      break;
    case MemoryKind::IRAM:
      break;
    case MemoryKind::SFR:
      if (run) {
        Start(MemoryKind::Cfg);
        return true;
      }
      break;
    case MemoryKind::Cfg:
      s_.EndUploadAll();
      s_.ClearRx();
      break;
  }
  return false;
}

}  // namespace varnel
