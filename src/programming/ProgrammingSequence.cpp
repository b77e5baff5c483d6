// The programming run and its reply handlers.
#include "programming/ProgrammingSequence.h"

#include <string_view>

#include "core/Memories.h"
#include "core/Session.h"
#include "link/Commands.h"
#include "link/HexText.h"
#include "programming/FlashTiming.h"
#include "programming/ProgramCheck.h"
#include "programming/ProgramFile.h"
#include "programming/Verify.h"
#include "programming/VerifyAgain.h"

namespace varnel {
namespace {

constexpr int kEpmaBit = 0x80;           // bit 7 of HCR0
constexpr int kConfigBase = InfoOf(MemoryKind::Cfg).targetBase;  // CfgImage offset 0
constexpr int kConfigLast = kConfigBase + kHCR0Offset;
constexpr int kEraseSettleMs = 300;      // after the first erase command
constexpr int kNoticeMs = 2000;          // completion notice on screen
// The loader's own work before it replies. An erase is timed for a loader
// that erases the largest flash page by page (256 pages of 5 ms); a record
// or register write takes a few milliseconds.
constexpr int kEraseLongestMs = 2000;
constexpr int kWriteLongestMs = 100;
// Characters of the longest reply the run's commands get.
constexpr std::size_t kLongReply = 64;

constexpr char kEpmaRefused[] =
    "Bit EPMA disable programming flash! Enable Erasing PS1. Programming canceled!";
constexpr char kEraseFailed[] = "Failed Erase target!";
constexpr char kEraseUnknown[] = "Error connecting target or out of memory range!";
constexpr char kWriteError[] = "Line write error, programming terminated!";
constexpr char kChecksumError[] = "Line checksum error, programming terminated!";
constexpr char kModeRefused[] = "Programming mode may be not allowed by EPMA!";
constexpr char kInterrupted[] = "Programming sequence interrupted by user!";
constexpr char kConfigUnknown[] = "Error connecting target!";
constexpr char kFinished[] = "Programming target finished successfully!";
constexpr char kCaption[] = "Programming target";
constexpr char kVerifyName[] = "Verify";
constexpr char kNotVerified[] = "Programming target finished, but the flash was not verified: ";
constexpr char kMissingEnd[] =
    " has no end record (:00000001FF) after its last line. A file cut short by an interrupted "
    "download or copy looks like this.\n\nProgram it anyway, with the end record sent after its "
    "last line?";
// What the progress display names while the run counts no lines.
constexpr char kTimingStep[] = "flash timing";
constexpr char kEraseStep[] = "erasing";
constexpr char kConfigStep[] = "HCR1/HCR0";

std::string NameOf(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// What the download needs of a record it sends or leaves out.
struct RecordFacts {
  bool read = false;  // a record in form; anything else is sent and counts nothing
  int type = -1;
  std::uint32_t count = 0, offset = 0;
  std::uint32_t value = 0;  // its first two data bytes: an address base record's base
  bool erased = false;      // data, and every byte FFh
};

RecordFacts ReadRecord(std::string_view line) {
  RecordFacts r;
  const auto nibble = [](char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
  };
  // Byte i after the colon, -1 when the line holds none there.
  const auto byte = [&](std::size_t i) {
    const std::size_t at = 1 + 2 * i;
    if (at + 1 >= line.size()) return -1;
    const int high = nibble(line[at]), low = nibble(line[at + 1]);
    return high < 0 || low < 0 ? -1 : high * 16 + low;
  };
  if (line.size() < 11 || line.front() != ':') return r;
  const int count = byte(0), high = byte(1), low = byte(2), type = byte(3);
  if (count < 0 || high < 0 || low < 0 || type < 0) return r;
  bool erased = type == 0 && count > 0;
  std::uint32_t value = 0;
  for (int i = 0; i < count; ++i) {
    const int b = byte(4 + static_cast<std::size_t>(i));
    if (b < 0) return r;
    erased = erased && b == 0xFF;
    if (i < 2) value = value << 8 | static_cast<std::uint32_t>(b);
  }
  r.read = true;
  r.type = type;
  r.count = static_cast<std::uint32_t>(count);
  r.offset = static_cast<std::uint32_t>(high << 8 | low);
  r.value = value;
  r.erased = erased;
  return r;
}

// A reply that is neither "ok" nor "x": the loader's "?" refuses the
// address; anything else did not come through whole.
OutcomeKind UnknownReplyKind(const std::string& stripped) {
  return stripped.find('?') != std::string::npos ? OutcomeKind::TargetRefused
                                                  : OutcomeKind::DamagedReplies;
}

}  // namespace

ProgrammingSequence::ProgrammingSequence(Session& session, SettingsSource& settings)
    : s_(session), settings_(settings) {
  s_.RegisterHandler("M", [this](const std::string& reply) { EraseReply(reply); });
  s_.RegisterHandler("L", [this](const std::string& reply) { LineReply(reply); });
  s_.RegisterHandler("CW", [this](const std::string& reply) { ConfigWriteReply(reply); });
  s_.AddStopHook([this] { lineFile_.Close(); });
  // The pending "L" never went on the wire alone after the first record; a
  // loader that lost a command gets the record it lost again.
  s_.RegisterRepeat("L", [this] { return lastSent_.empty() ? s_.LastCommand.str() : lastSent_; });
}

bool ProgrammingSequence::LoadSettings(const ProgramOptions& options) {
  settings_.LoadProperties();
  ProjectSettingsRecord& ps = s_.ProjectSettings;
  if (options.massErase) ps.MassErase = *options.massErase;
  if (options.erasePS1) ps.ErasePS1 = *options.erasePS1;
  if (options.progFlash) ps.ProgFlash = *options.progFlash;
  if (options.progPS1) ps.ProgPS1 = *options.progPS1;
  if (options.verify) ps.Verify = *options.verify;
  if (options.hcr1) s_.Images.CfgImage.Write(MemoryImages::kHCR1Offset, *options.hcr1);
  if (options.hcr0) s_.Images.CfgImage.Write(MemoryImages::kHCR0Offset, *options.hcr0);
  s_.BeginRun();
  if (s_.PortOpen) return true;
  // The reload reopened what it could; nothing could answer a closed port.
  Report(OutcomeKind::PortFailed, ClosedPortText(settings_));
  return false;
}

bool ProgrammingSequence::Program(const ProgramOptions& options) {
  if (!s_.TargetConnected) return false;
  ResetCount();
  if (!LoadSettings(options)) return true;
  const ProjectSettingsRecord& settings = s_.ProjectSettings;
  // Only the run's own erase leaves every cell FFh.
  skipErased_ = options.skipErased && settings.MassErase;
  const int hcr0 = s_.Images.CfgImage.Read(MemoryImages::kHCR0Offset);
  if (!(hcr0 & kEpmaBit) && !settings.ErasePS1) {
    Report(OutcomeKind::Refused, kEpmaRefused);
    return true;
  }

  // A new run takes the link over: whatever still waited for a reply is
  // abandoned, so neither it nor an old stop request meets the new replies.
  lineFile_.Close();
  lastSent_.clear();
  flashWritten_ = false;
  beforeRecords_ = nullptr;
  s_.AbandonPending();

  // The file is read once, prepared and checked before anything is sent:
  // a bad file must not cost the chip its flash.
  const std::int32_t flash = FlashSizeFor(s_.TargetIdCode);
  const auto flashBytes = static_cast<std::uint32_t>(flash > 0 ? flash : MemoryImages::kCodeSize);
  PreparedDownload prepared;
  if (options.records) {
    lineFile_.LoadText(*options.records);
    HexLineCount = CountRecordLines(lineFile_.Text());
    s_.ProjectSettings.HexBinFile = s_.ProgramFile;
    ProgramCheck check = CheckProgramText(lineFile_.Text(), s_.ProgramFile, flashBytes);
    if (!check.ok) prepared.outcome = Outcome(OutcomeKind::BadFile, check.error);
    prepared.written = std::move(check.data);
    prepared.endRecord = check.endRecord;
  } else {
    prepared = PrepareDownload(s_, HexLineCount, flashBytes, lineFile_);
  }
  if (!prepared.outcome.Done()) {
    lineFile_.Close();
    Report(prepared.outcome);
    return true;
  }
  Written = std::move(prepared.written);
  // A file cut at a line boundary passes every other check: whoever runs
  // it says, before anything is sent, whether it is meant to end there.
  if (!prepared.endRecord && !s_.Ui().Confirm(kCaption, NameOf(s_.ProgramFile) + kMissingEnd)) {
    lineFile_.Close();
    Report(OutcomeKind::Refused, "");
    return true;
  }
  beforeRecords_ = options.beforeRecords;
  flashBytes_ = flashBytes;

  // From the first command on the display shows the run, so a target that
  // does not answer is seen whatever step it stops at.
  ShowStep(kTimingStep);
  SetupFlashTime(s_);
  s_.BeginProgramming();
  PrepareTarget();
  if (!s_.LastCommand.empty()) {
    s_.Ui().Sleep(kEraseSettleMs);
    return true;
  }
  // Neither erase step selected: carry on as after an erase.
  ContinueAfterErase();
  return true;
}

bool ProgrammingSequence::Erase(EraseScope scope) {
  if (!s_.TargetConnected) return false;
  ProgramOptions erase;
  erase.massErase = scope != EraseScope::CfgOnly;
  erase.erasePS1 = scope != EraseScope::Flash;
  erase.progFlash = erase.progPS1 = erase.verify = false;
  ResetCount();
  if (!LoadSettings(erase)) return true;
  lineFile_.Close();
  lastSent_.clear();
  flashWritten_ = false;
  Written.clear();
  s_.AbandonPending();
  // Erasing is timed by the flash timing, as in a programming run.
  ShowStep(kTimingStep);
  SetupFlashTime(s_);
  s_.BeginProgramming();
  PrepareTarget();
  s_.Ui().Sleep(kEraseSettleMs);
  return true;
}

void ProgrammingSequence::PrepareTarget() {
  const ProjectSettingsRecord& settings = s_.ProjectSettings;
  if (settings.MassErase || settings.ErasePS1) {
    ShowStep(kEraseStep);
    s_.ClearRx();
    SendCommand(settings.MassErase ? cmd::kEraseFlash : cmd::kEraseConfig, kEraseLongestMs);
  }
}

void ProgrammingSequence::EraseReply(const std::string& reply) {
  const std::string stripped = SeparateChar(reply);
  if (stripped == "ok") {
    s_.TakeReplyAddress();
    if (s_.CurrentAddress < kConfigBase && s_.ProjectSettings.ErasePS1) {
      SendCommand(cmd::kEraseConfig, kEraseLongestMs);
      return;
    }
    ContinueAfterErase();
  } else if (stripped == "x") {
    EndRunWithError(OutcomeKind::TargetRefused, kEraseFailed);
  } else {
    EndRunWithError(UnknownReplyKind(stripped), kEraseUnknown);
  }
}

void ProgrammingSequence::ContinueAfterErase() {
  if (s_.ProgrammingActive && s_.ProjectSettings.ProgFlash) {
    StartLineDownload();
  } else if (s_.ProjectSettings.ProgPS1) {
    StartConfigWrite();
  } else {
    EndRun();
    Report(OutcomeKind::Finished, "");
  }
}

void ProgrammingSequence::StartLineDownload() {
  if (const auto before = std::exchange(beforeRecords_, nullptr)) {
    std::string records = lineFile_.Text();
    Outcome go = before(records);
    if (go.Done()) {
      // Checked as the file was: what goes out is what a verify compares.
      ProgramCheck check = CheckProgramText(records, s_.ProgramFile, flashBytes_);
      if (!check.ok) go = Outcome(OutcomeKind::BadFile, check.error);
      lineFile_.LoadText(std::move(records));
      HexLineCount = CountRecordLines(lineFile_.Text());
      Written = std::move(check.data);
    }
    if (!go.Done()) {
      EndRun();
      Report(go);
      return;
    }
  }
  s_.Await("L");  // the record itself follows in the same write
  std::string first;
  int skipped = 0;
  const HexLineFile::Result r = TakeLine(first, skipped);
  if (r == HexLineFile::Result::Error) {
    EndRunWithError(OutcomeKind::BadFile, "Can't open file " + s_.ProgramFile + " !");
    return;
  }
  ProgressStart progress;
  progress.name = InfoOf(MemoryKind::Code).name;
  progress.maximum = HexLineCount;
  progress.position = skipped;
  progress.text = std::to_string(skipped) + " lines";
  progress.caption = kCaption;
  progress.lead = "Programming:";
  s_.Ui().StartProgress(progress);
  s_.BeginSequence();
  if (r == HexLineFile::Result::End) {
    // A file without a single record: end the loader's line mode in order
    // rather than wait for a reply that no command asked for.
    lineFile_.Close();
    s_.EndProgramming();
    first = cmd::kEndRecord;
  }
  SendLine(cmd::Line(first));
}

void ProgrammingSequence::LineReply(const std::string& reply) {
  const std::string stripped = SeparateChar(reply);
  if (stripped == "." && inFlight_) {
    // The loader took the record: the flash holds its bytes.
    Hold(inFlight_->first, inFlight_->second);
    downloaded_.sent += inFlight_->second;
    inFlight_.reset();
  }
  if (s_.ProgrammingActive && s_.StopRequested) {
    Report(OutcomeKind::Interrupted, kInterrupted);
    lineFile_.Close();
    SendLine(cmd::kEndRecord);
    s_.EndProgramming();
    // StopRequested stays set: the reply to the end record ends the run
    // through the dispatcher's stop branch.
  }

  if (stripped == "." && s_.ProgrammingActive) {
    SendNextLine();
  } else if (stripped == "T") {
    lineFile_.Close();
    flashWritten_ = true;
    if (s_.ProjectSettings.ProgPS1) {
      StartConfigWrite();
    } else {
      CloseProgress();
      const bool notice = s_.ProgrammingActive;
      EndRun();
      Complete(notice);
    }
  } else if (stripped == "X") {
    EndRunWithError(OutcomeKind::TargetRefused, kWriteError);
  } else if (stripped == "E") {
    EndRunWithError(OutcomeKind::TargetRefused, kChecksumError);
  } else if (stripped.empty()) {
    EndRunWithError(OutcomeKind::TargetRefused, kModeRefused);
  }
  // Anything else, "." after the end record included, waits for the next reply.
}

void ProgrammingSequence::SendNextLine() {
  std::string line;
  int skipped = 0;
  switch (TakeLine(line, skipped)) {
    case HexLineFile::Result::End:
      // The file lacked its own end record: close the loader's line mode.
      lineFile_.Close();
      SendLine(cmd::kEndRecord);
      s_.EndProgramming();
      return;
    case HexLineFile::Result::Error:
      EndRunWithError(OutcomeKind::BadFile, "Can't open file " + s_.ProgramFile + " !");
      return;
    case HexLineFile::Result::Line:
      break;
  }
  TargetUi& ui = s_.Ui();
  if (ui.ProgressOpen()) {
    const int position = ui.ProgressPosition() + 1 + skipped;
    ui.StepProgress(position, std::to_string(position + 1) + " lines");
  }
  SendLine(line);
}

HexLineFile::Result ProgrammingSequence::TakeLine(std::string& line, int& skippedLines) {
  for (;;) {
    const HexLineFile::Result r = lineFile_.Next(line);
    if (r != HexLineFile::Result::Line) return r;
    const RecordFacts record = ReadRecord(line);
    if (!record.read) return r;
    if (record.type == 2) base_ = std::uint64_t{record.value} * 16;
    if (record.type == 4) base_ = std::uint64_t{record.value} << 16;
    if (record.type != 0) return r;
    const std::uint64_t start = base_ + record.offset;
    // The configuration page is never left out: no erase of the flash
    // touches it.
    if (skipErased_ && record.erased && start + record.count <= std::uint64_t{kConfigBase}) {
      Hold(start, record.count);
      downloaded_.skipped += record.count;
      ++skippedLines;
      continue;
    }
    inFlight_.emplace(start, record.count);
    return r;
  }
}

void ProgrammingSequence::Hold(std::uint64_t start, std::uint32_t count) {
  // Addresses, not record bytes: a file may write a byte twice.
  for (std::uint64_t a = start; a < start + count && a <= std::uint64_t{kConfigLast}; ++a) {
    if (a >= held_.size()) held_.resize(a + 1);
    if (!held_[a]) {
      held_[a] = true;
      ++downloaded_.held;
    }
  }
}

void ProgrammingSequence::ResetCount() {
  skipErased_ = false;
  downloaded_ = {};
  base_ = 0;
  inFlight_.reset();
  held_.clear();
}

void ProgrammingSequence::SendLine(const std::string& text) {
  lastSent_ = text;
  s_.SendString(text);
  Awaiting(text.size(), kWriteLongestMs);
}

void ProgrammingSequence::SendCommand(const std::string& command, int ownMs) {
  s_.SendCommand(command);
  Awaiting(command.size(), ownMs);
}

void ProgrammingSequence::Awaiting(std::size_t length, int ownMs) {
  const CommPort* port = s_.Port();
  const int baud = std::max(port ? BaudRateValue(port->BaudRate()) : 0, 1);
  // Ten bits a character, both ways.
  const auto lineMs = static_cast<int>((length + kLongReply) * 10 * 1000 / static_cast<std::size_t>(baud));
  awaited_ = s_.LastCommand.str();
  sentAt_ = Now();
  replyMs_ = lineMs + ownMs + kReplyMarginMs;
}

bool ProgrammingSequence::Waiting() const {
  // Answered and ended, or another run took the link over: not ours to watch.
  return !awaited_.empty() && s_.LastCommand.str() == awaited_;
}

bool ProgrammingSequence::Tick() {
  if (!Waiting()) {
    awaited_.clear();
    return false;
  }
  // A stop the user asked for ends the run its own way.
  if (s_.StopRequested) return true;
  if (Now() - sentAt_ < std::chrono::milliseconds(replyMs_)) return true;
  Outcome silent{OutcomeKind::NoAnswer, NoReplyText((replyMs_ + 999) / 1000) + "."};
  silent.command = s_.LastCommand.front() == 'L' ? lastSent_ : s_.LastCommand.str();
  awaited_.clear();
  CloseProgress();
  // Nothing is sent: a loader that answers nothing takes nothing either,
  // and the next connect finds the board as it is.
  s_.EndLostRun(WithFacts(silent));
  return false;
}

void ProgrammingSequence::ShowStep(const std::string& text) {
  TargetUi& ui = s_.Ui();
  ProgressStart step;
  step.step = true;
  step.name = InfoOf(s_.ProjectSettings.ProgFlash ? MemoryKind::Code : MemoryKind::Cfg).name;
  step.text = text;
  step.caption = kCaption;
  step.lead = "Programming:";
  // After the download the bar stays where it ended; before it, it counts nothing yet.
  if (flashWritten_ && ui.ProgressOpen()) {
    step.maximum = std::max(HexLineCount, 0);
    step.position = ui.ProgressPosition();
  } else {
    step.maximum = 0;
  }
  ui.StartProgress(step);
}

void ProgrammingSequence::StartConfigWrite() {
  s_.SetEndAddress(kConfigLast);
  ShowStep(kConfigStep);
  SendCommand(
      cmd::WriteConfig(kConfigLast - 1, s_.Images.CfgImage.Read(MemoryImages::kHCR1Offset)),
      kWriteLongestMs);
}

void ProgrammingSequence::ConfigWriteReply(const std::string& reply) {
  const std::string stripped = SeparateChar(reply);
  if (stripped == "ok") {
    s_.TakeReplyAddress();
    if (s_.CurrentAddress == s_.EndAddress) {
      // Complete. The state is settled before the notice, whose wait may let
      // the window run other commands.
      const bool notice = s_.ProgrammingActive;
      s_.EndSequence();
      s_.EndProgramming();
      lineFile_.Close();
      s_.ShowReceiveCount(true);
      Complete(notice);
    } else if (s_.CurrentAddress >= kConfigBase && s_.CurrentAddress <= kConfigLast) {
      const std::int32_t next = s_.CurrentAddress + 1;
      SendCommand(cmd::WriteConfig(next, s_.Images.CfgImage.Read(next - kConfigBase)),
                  kWriteLongestMs);
    }
  } else if (stripped == "x") {
    EndRunWithError(OutcomeKind::TargetRefused, kEraseFailed);
  } else {
    EndRunWithError(UnknownReplyKind(stripped), kConfigUnknown);
  }
}

void ProgrammingSequence::Complete(bool notice) {
  const bool verify = s_.ProjectSettings.Verify && flashWritten_ && !Written.empty();
  // The read-back takes the display over; nothing else follows the run.
  if (!verify || !reader_) CloseProgress();
  if (verify) {
    noticePending_ = notice;
    if (!reader_) {
      Report(OutcomeKind::Refused, kNotVerified + std::string("no way to read the flash back."));
      return;
    }
    differences_.emplace(Written);
    verifyRanges_ = differences_->First();
    VerifyNext(0);
    return;
  }
  if (notice) ShowCompletionNotice(kFinished);
  Report(OutcomeKind::Finished, notice ? kFinished : "");
}

void ProgrammingSequence::VerifyNext(std::size_t range) {
  if (range >= verifyRanges_.size()) {
    FinishVerify();
    return;
  }
  const auto [first, last] = verifyRanges_[range];
  reader_->ReadBack(MemoryKind::Code, static_cast<std::int32_t>(first),
                    static_cast<std::int32_t>(last), kVerifyName,
                    [this, range](const Outcome& read) {
                      if (!read.Done()) {
                        // Never a success: the flash was not compared.
                        Report(read.kind, kNotVerified + read.text);
                        return;
                      }
                      VerifyNext(range + 1);
                    });
}

void ProgrammingSequence::FinishVerify() {
  // Blocks that differ are read again before a difference counts.
  verifyRanges_ = differences_->Compare(s_.Images.CodeImage);
  if (!verifyRanges_.empty()) {
    VerifyNext(0);
    return;
  }
  const VerifyReport report = differences_->Report(s_.Images.CodeImage);
  if (!report.ok()) {
    Report(VerifyOutcome(report));
    return;
  }
  Outcome done = VerifyOutcome(report);
  done.text = std::string(kFinished) + " Verified " + std::to_string(report.compared) + " bytes.";
  if (noticePending_) ShowCompletionNotice(done.text);
  Report(done);
}

void ProgrammingSequence::ShowCompletionNotice(const std::string& text) {
  TargetUi& ui = s_.Ui();
  CloseProgress();
  ui.ShowNotice(kCaption, text, "&Ok");
  ui.Sleep(kNoticeMs);
  ui.EndProgress();
  // "&Ok" only closes the notice: a press during the wait is no stop request
  // for whatever the user starts next. A sequence started meanwhile keeps its own.
  if (s_.LastCommand.empty()) s_.BeginSequence();
}

void ProgrammingSequence::CloseProgress() {
  if (s_.Ui().ProgressOpen()) s_.Ui().EndProgress();
}

void ProgrammingSequence::EndRun() {
  s_.EndSequence();
  s_.EndProgramming();
  lineFile_.Close();
  CloseProgress();
}

void ProgrammingSequence::EndRunWithError(OutcomeKind kind, const std::string& text) {
  // The command refused is named before the run forgets it.
  Outcome outcome{kind, text};
  outcome.command = s_.LastCommand.front() == 'L' ? lastSent_ : s_.LastCommand.str();
  if (s_.LastCommand.front() != 'L') outcome.address = static_cast<std::uint32_t>(s_.CurrentAddress);
  EndRun();
  Report(outcome);
}

void ProgrammingSequence::Report(OutcomeKind kind, const std::string& text) {
  Report(Outcome{kind, text});
}

void ProgrammingSequence::Report(Outcome outcome) { s_.Report(WithFacts(std::move(outcome))); }

Outcome ProgrammingSequence::WithFacts(Outcome outcome) const {
  outcome.memory = InfoOf(MemoryKind::Code).name;
  outcome.bytes = downloaded_.held;
  outcome.sent = downloaded_.sent;
  outcome.lines = static_cast<std::size_t>(std::max(HexLineCount, 0));
  return outcome;
}

}  // namespace varnel
